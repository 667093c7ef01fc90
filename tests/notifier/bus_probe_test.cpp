// SPDX-License-Identifier: GPL-3.0-or-later
// The look at the session bus before the bus library's first call: a real bus daemon answers, a socket that takes
// the connection and never speaks is silent within the time, and an address of nothing is none.

#include "notifier/bus_probe.h"

#include "tests/support/private_bus.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace {

TEST(BusProbe, SocketOfTheAddressAsTheBusLibraryPicksIt) {
    const struct {
        const char* address;
        const char* runtime;
        std::string socket;
    } cases[] = {
        {"unix:path=/run/user/1000/bus", nullptr, "/run/user/1000/bus"},
        {"unix:path=/tmp/b,guid=0123abcd", nullptr, "/tmp/b"},
        {"unix:abstract=/tmp/dbus-X,guid=1", nullptr, std::string(1, '\0') + "/tmp/dbus-X"},
        {"tcp:host=127.0.0.1,port=1;unix:path=/tmp/second", nullptr, "/tmp/second"},
        {"tcp:host=127.0.0.1,port=1", "/run/user/1", ""},
        {"unix:path=", nullptr, ""},
        {"", "/run/user/1000", "/run/user/1000/bus"},
        {nullptr, "relative", ""},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(session_bus_socket(c.address, c.runtime), c.socket) << (c.address ? c.address : "(unset)");
    }
}

TEST(BusProbe, DaemonAnswersMuteSocketIsSilentInTimeNothingIsNone) {
    TempCorvo dir;
    {
        PrivateSessionBus bus(dir.dir());
        ASSERT_TRUE(bus.ok());
        EXPECT_EQ(probe_session_bus(20000), BusProbe::answers);
    }
    {
        MuteSessionBus mute(dir.dir());
        ASSERT_TRUE(mute.ok());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(probe_session_bus(300), BusProbe::silent);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
        // Left out: the address names no transport, so the bus library fails at once from now on.
        leave_out_silent_session_bus(300);
        EXPECT_STREQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "silent:");
        EXPECT_EQ(probe_session_bus(300), BusProbe::none);
    }
    setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + dir.path("nothing")).c_str(), 1);
    EXPECT_EQ(probe_session_bus(300), BusProbe::none);
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

} // namespace
