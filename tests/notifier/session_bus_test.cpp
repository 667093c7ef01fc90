// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the session bus answers, before Qt's D-Bus is let near it.

#include "notifier/session_bus.h"

#include "tests/support/private_bus.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

namespace {

// Catches an abstract socket taken for a path, escapes left in, a second address of the list lost, and a
// listening-only or non-unix entry probed.
TEST(SessionBus, SocketsOfAnAddressList) {
    const struct {
        const char* address;
        std::vector<BusSocket> sockets;
    } rows[] = {
        {"unix:path=/run/user/1000/bus", {{false, "/run/user/1000/bus"}}},
        {"unix:abstract=/tmp/dbus-Ab12,guid=0123456789abcdef", {{true, "/tmp/dbus-Ab12"}}},
        {"unix:guid=01,path=/tmp/a%2cb%3d", {{false, "/tmp/a,b="}}},
        {"tcp:host=localhost,port=1234;unix:path=/x;unix:abstract=y", {{false, "/x"}, {true, "y"}}},
        {"unix:tmpdir=/tmp", {}},
        {"unix:path=/bad%zz", {}},
        {"unix:path=/cut%2", {}},
        {"unix:path=", {}},
        {"autolaunch:", {}},
        {"disabled:", {}},
        {"", {}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(bus_sockets(r.address), r.sockets) << r.address;
    }
}

// A bus daemon answers; a socket that takes the connection and says nothing is told within the time limit; no
// socket at all fails at once, as it does for libdbus.
TEST(SessionBus, AnsweringSilentAndAbsentBuses) {
    TempCorvo dir;
    {
        PrivateSessionBus bus(dir.dir());
        ASSERT_TRUE(bus.ok()) << dir.read("session-bus.out");
        EXPECT_EQ(bus_answers(bus.address(), 5000), BusAnswer::answers);
    }
    {
        MuteSessionBus mute(dir.dir());
        ASSERT_TRUE(mute.ok());
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(bus_answers(std::getenv("DBUS_SESSION_BUS_ADDRESS"), 300), BusAnswer::silent);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(mute.connections(), 1);
    }
    EXPECT_EQ(bus_answers("unix:path=" + dir.path("no-such-socket"), 5000), BusAnswer::absent);
    EXPECT_EQ(bus_answers("unix:path=" + dir.path("no-such-socket") + ";unix:path=/also/none", 5000),
              BusAnswer::absent);
    EXPECT_EQ(bus_answers("tcp:host=127.0.0.1,port=9", 5000), BusAnswer::unknown);
}

} // namespace
