// SPDX-License-Identifier: GPL-3.0-or-later
// A stop while the real kd5lite waits for an OAuth2 access token: a token command that sleeps, a token endpoint
// that trickles its answer for a minute, and a session bus that takes the connection and never answers (the
// desktop's online accounts). 停止使用 (Request 4) and SIGTERM end the wait as they end an IDLE watcher's: the job's
// end is written, or the notifier is gone, within about 2 s, where they waited out the token command's 10 s and the
// endpoint's 30 s (twice: a check and a watcher queued on one refresh). At real timing, with an IMAP account, so
// that the check pass and the account's IDLE watcher each ask for a token. And kd5lite --check, whose calls to a
// session bus that never answers end with their waits.

#include "settings/refresh_token.h"
#include "tests/notifier/harness.h"
#include "tests/support/lampsim_handle.h"
#include "tests/support/oauth2_provider.h"
#include "tests/support/private_bus.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>

namespace {

using Clock = std::chrono::steady_clock;

// The bound a stop must keep, and the stretch the measure is allowed on a loaded machine with the sanitizers.
constexpr auto kStopBound = std::chrono::seconds(2);
constexpr auto kStopSlack = std::chrono::seconds(3);

class TokenStop : public ::testing::Test {
protected:
    void SetUp() override {
        tool_write("StateLog", "1");
        tool_write("ErrorLog", "1");
        tool_write("SerialNumber", ("X" + lamp_.serial()).c_str());
        tool_write("IntervalTimer", "60");
        tool_write("Switch", "1", 0);
        tool_write("ServerName", "127.0.0.1:9", 0); // never reached: the token does not come
        tool_write("ID", "alice", 0);
        tool_write("Protocol", "1", 0);
        tool_write("Security", "2", 0);
        tool_write("Auth", "1", 0);
    }

    // A token command that writes its process ID to a file and sleeps for a minute.
    std::string sleeping_command() {
        dir_.write("sleeper", "#!/bin/sh\necho $$ >> \"$1\"\nexec sleep 60\n");
        chmod(dir_.path("sleeper").c_str(), 0700);
        return dir_.path("sleeper") + " " + dir_.path("sleeper.pids");
    }

    void start(const std::map<std::string, std::string>& env = {}) {
        std::map<std::string, std::string> all = {{"KD5LITE_TIME_SCALE", "1"}};
        all.insert(env.begin(), env.end());
        notifier_ = std::make_unique<NotifierProcess>(dir_, all);
        ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") == "2"; }, kPatience)) << diagnosis();
    }

    // Monitoring, until fetches (a count of the fetches begun) shows one under way; then the time from the stop's
    // request to its end.
    Clock::duration stop_while(const std::function<long()>& fetches, const std::function<bool()>& stopped,
                               const std::function<void()>& ask_stop) {
        const long before = fetches();
        tool_write("Request", "1");
        EXPECT_TRUE(wait_until([&] { return fetches() > before; }, kPatience)) << diagnosis();
        const Clock::time_point asked = Clock::now();
        ask_stop();
        EXPECT_TRUE(wait_until(stopped, kPatience)) << diagnosis();
        return Clock::now() - asked;
    }

    // Request 4, then Request 1 again and SIGTERM: both ends within the bound.
    void expect_both_stops(const std::function<long()>& fetching) {
        start();
        const auto stop = stop_while(
            fetching, [&] { return file_key(dir_, "Job") == "104"; }, [] { tool_write("Request", "4"); });
        EXPECT_LT(stop, kStopBound + kStopSlack) << "停止使用 took " << ms(stop) << " ms\n" << diagnosis();
        const auto end = stop_while(
            fetching, [&] { return !notifier_->running(); }, [&] { notifier_->signal(SIGTERM); });
        EXPECT_LT(end, kStopBound + kStopSlack) << "SIGTERM took " << ms(end) << " ms\n" << diagnosis();
        std::printf("stop %lld ms, SIGTERM %lld ms\n", ms(stop), ms(end));
    }

    static long long ms(Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    }

    std::string diagnosis() const {
        return "err:\n" + log_text(dir_, "err") + "log:\n" + log_text(dir_, "log") + "out:\n" +
               dir_.read("notifier.out");
    }

    TempCorvo dir_;
    LampSim lamp_{dir_.dir()};
    std::unique_ptr<NotifierProcess> notifier_;
};

// Gone, or a zombie nobody has reaped yet.
bool ended(const std::string& pid) {
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string field, name, state;
    return !(stat >> field >> name >> state) || state == "Z";
}

TEST_F(TokenStop, ASleepingTokenCommand) {
    tool_write("OAuthSource", "3", 0);
    tool_write("TokenCommand", sleeping_command().c_str(), 0);
    expect_both_stops([&] { return count_of(dir_.read("sleeper.pids"), "\n"); });
    // Not one of the commands outlived its stop.
    std::istringstream pids(dir_.read("sleeper.pids"));
    for (std::string pid; std::getline(pids, pid);) {
        EXPECT_TRUE(wait_until([&] { return ended(pid); }, kPatience)) << pid;
    }
}

TEST_F(TokenStop, ATricklingTokenEndpoint) {
    OAuth2Provider provider;
    ASSERT_TRUE(provider.start(60)) << provider.error();
    tool_write("OAuthSource", "1", 0);
    tool_write("OAuthProvider", "custom", 0);
    tool_write("TokenUrl", provider.url("/token").c_str(), 0);
    tool_write("ClientId", "kd5lite-test", 0);
    ASSERT_EQ(refresh_token_file_save(0, provider.issue("alice").refresh_token), 0);
    ASSERT_TRUE(provider.set_mode("fault=trickle"));
    expect_both_stops([&] { return provider.stats()["refresh_token"]; });
}

// kd5lite --check against a session bus that never answers, for an account of the desktop's online accounts: the
// account's time (1.5 s at this scale, shorter than a call's wait to the bus) cuts the call short and the check
// ends with its report, where it hung for good inside the bus library before.
TEST_F(TokenStop, TheCheckEndsWithAMuteSessionBus) {
    MuteSessionBus bus(dir_.dir());
    ASSERT_TRUE(bus.ok());
    tool_write("OAuthSource", "2", 0);
    tool_write("OnlineAccount", "account_1712345678_0", 0);
    ChildProcess check({KD5LITE_BINARY, "--check"},
                       {{"CORVO_HOME", dir_.dir()},
                        {"XDG_RUNTIME_DIR", dir_.dir()},
                        {"KD5LITE_SYSFS_ROOT", dir_.path("sys")},
                        {"KD5LITE_TIME_SCALE", "0.1"}},
                       dir_.path("check.out"));
    const Clock::time_point start = Clock::now();
    EXPECT_EQ(check.wait_exit(60000), 1) << check.output();
    std::printf("the check took %lld ms\n", ms(Clock::now() - start));
    EXPECT_GT(bus.connections(), 0) << check.output();
    EXPECT_NE(check.output().find("FAIL account 1 (red): no answer within the 1.5 s the check gives an account (it "
                                  "got as far as the access token)"),
              std::string::npos)
        << check.output();
}

} // namespace
