// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/mailbox.h"

#include "notifier/acknowledge.h"
#include "notifier/jobs.h"
#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <system_error>

namespace {

int g_icon_steps = 0;

// The poll timer's tick as the window thread runs it, counting the tray icon's steps.
Dispatch tick() {
    return mailbox_tick([] { ++g_icon_steps; });
}

class Mailbox : public ::testing::Test {
protected:
    void SetUp() override {
        Timing t;
        t.job_start_ms = 1;
        set_timing(t);
        tool_write("StateLog", "107");
    }
    void TearDown() override {
        set_timing(Timing{});
        set_job_thread_starter(nullptr);
        unsetenv("KD5LITE_SERIAL_DIR");
    }

    void start_notifier() {
        mailbox_reset();
        ASSERT_EQ(tick(), Dispatch::initialised);
    }
    std::string state_log() const { return log_text(dir_, "log"); }

    TempCorvo dir_;
    FixedClock clock_{2026, 3, 7};
};

TEST_F(Mailbox, FirstTickInitialisesOnceAndGoesIdle) {
    tool_write("Request", "3"); // a request left from the last run does not survive the start
    tool_write("Answer", "1");
    start_notifier();
    for (auto [key, want] : {std::pair{"Request", "0"},
                             {"State", "2"},
                             {"Answer", "0"},
                             {"Error", "0"},
                             {"Job", "0"},
                             {"IntervalTimer", "10"},
                             {"Version", "Ver 2.20.2"}}) {
        EXPECT_EQ(file_key(dir_, key), want) << key;
    }
    EXPECT_EQ(file_key(dir_, "Switch", 2), "0");
    std::string log = state_log();
    EXPECT_NE(log.find("03/07 09:05:01 start\r\n03/07 09:05:01 initial\r\n03/07 09:05:01 neutral\r\n"),
              std::string::npos)
        << log;

    EXPECT_EQ(tick(), Dispatch::nothing); // State is no longer 0: no second initialisation
    EXPECT_EQ(count_of(state_log(), "initial"), 1);
}

TEST_F(Mailbox, OnlyAJobOf101ResumesMonitoring) {
    for (auto [job, request] : {std::pair{"101", "1"}, {"104", "0"}, {"199", "0"}, {"", "0"}}) {
        tool_write("Job", job);
        start_notifier();
        EXPECT_EQ(file_key(dir_, "Request"), request) << "Job " << job;
        EXPECT_EQ(mailbox_monitoring_requested(), std::string(request) == "1") << "Job " << job;
    }
}

TEST_F(Mailbox, RequestsOutsideTheTableChangeNothing) {
    start_notifier();
    std::string before = dir_.read("corvo_kd5lite.ini");
    for (const char* request : {"7", "100", "-1", "x1", "98"}) {
        tool_write("Request", request);
        std::string expected = dir_.read("corvo_kd5lite.ini");
        EXPECT_EQ(tick(), Dispatch::nothing) << request;
        EXPECT_EQ(dir_.read("corvo_kd5lite.ini"), expected) << request;
    }
}

// The tray icon steps while monitoring is requested, busy or not; leading digits count.
TEST_F(Mailbox, LeadingDigitsCountForTheMonitoringRequest) {
    tool_write("Answer", "1"); // busy: nothing is dispatched
    for (auto [request, monitoring] :
         {std::pair{"01", true}, {"1 ", true}, {"1x", true}, {"x1", false}, {"11", false}, {"", false}}) {
        tool_write("Request", request);
        g_icon_steps = 0;
        EXPECT_EQ(tick(), Dispatch::nothing);
        EXPECT_EQ(g_icon_steps, monitoring ? 1 : 0) << "'" << request << "'";
    }
}

TEST_F(Mailbox, StopIsRecordedInJobAndEndIsLeftToTheCaller) {
    start_notifier();
    tool_write("Request", "4");
    EXPECT_EQ(tick(), Dispatch::stop_recorded);
    EXPECT_EQ(tick(), Dispatch::stop_recorded);
    EXPECT_EQ(file_key(dir_, "Job"), "104");
    EXPECT_EQ(file_key(dir_, "State"), "2");

    tool_write("Request", "99");
    EXPECT_EQ(tick(), Dispatch::end_requested);
    EXPECT_EQ(file_key(dir_, "Job"), "104");
    notifier_end_recorded();
    EXPECT_EQ(file_key(dir_, "Job"), "199");
    EXPECT_NE(state_log().find(" The end\r\n"), std::string::npos);
}

// A standing request is acted on again once the job has ended, and never while it runs (Answer is the guard).
TEST_F(Mailbox, StandingAccountCheckRepeatsUntilStopped) {
    start_notifier();
    tool_write("Request", "3");
    ASSERT_TRUE(wait_until(
        [&] {
            tick();
            return count_of(state_log(), "A mail account check --> The end") >= 3;
        },
        kPatience));
    tool_write("Request", "4");
    ASSERT_TRUE(wait_until([&] { return tick() == Dispatch::stop_recorded; }, kPatience));
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    EXPECT_EQ(file_key(dir_, "Job"), "104");

    std::string log = state_log();
    std::string cycle = "Mail account confirmation\r\n03/07 09:05:01 A mail account check --> A start\r\n"
                        "03/07 09:05:01 A mail account check --> The end\r\n";
    EXPECT_GE(count_of(log, cycle), 3) << log;
    EXPECT_EQ(count_of(log, "Mail account confirmation"), count_of(log, "A mail account check --> The end"));
}

// A settings file rewritten behind the notifier's back (an editor, a restored backup, a deleted file) must not start
// a second monitor or the initialise step beside the running one: both would drive the lamp and its link at once.
TEST_F(Mailbox, FileRewrittenDuringMonitoringStartsNothingBesideIt) {
    Timing t = timing();
    t.monitor_step_ms = 10;
    set_timing(t);
    setenv("KD5LITE_SERIAL_DIR", dir_.dir().c_str(), 1); // no lamp plugged in
    start_notifier();
    tool_write("Request", "1");
    ASSERT_EQ(tick(), Dispatch::job_started);
    ASSERT_TRUE(wait_until([&] { return count_of(state_log(), "monitor --> A start") == 1; }, kPatience));

    g_icon_steps = 0;
    tool_write("Answer", "0");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tick(), Dispatch::nothing);
    }
    std::filesystem::remove(dir_.settings_path()); // Request and State read as 0: the initialise step's cue
    EXPECT_EQ(tick(), Dispatch::nothing);
    EXPECT_EQ(g_icon_steps, 5); // busy or not, the icon runs while monitoring is requested

    tool_write("Request", "4");
    ASSERT_TRUE(wait_until([&] { return state_log().find("monitor --> The end") != std::string::npos; }, kPatience));
    ASSERT_TRUE(wait_until([] { return !job_running(); }, kPatience));
    EXPECT_EQ(tick(), Dispatch::stop_recorded);
    std::string log = state_log();
    EXPECT_EQ(count_of(log, "monitor --> A start"), 1) << log;
    EXPECT_EQ(count_of(log, "initial"), 1) << log;
}

// Ended at once, a job whose thread cannot start would be retried at every tick, five times a second, each time
// rewriting the file and the error log; it waits like every other job start instead.
TEST_F(Mailbox, JobWhoseThreadCannotStartEndsAndWaitsLikeAnyJob) {
    Timing t = timing();
    t.job_start_ms = 300;
    set_timing(t);
    set_job_thread_starter(
        [](void (*)()) { throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again)); });
    tool_write("ErrorLog", "107");
    start_notifier();
    tool_write("Request", "3");
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(tick(), Dispatch::job_started);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(300));
    EXPECT_FALSE(job_running());
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    EXPECT_EQ(count_of(log_text(dir_, "err"), "job start ---> A thread cannot be started[error: 11]\r\n"), 1);
}

} // namespace

namespace {

// Request 5 (a tool's 已读) acknowledges what the last checks saw even while a job keeps the notifier busy, records
// Job 105, and is no standing order: Request goes back to what stands, or the next tick would acknowledge again.
TEST_F(Mailbox, AcknowledgeRequestIsActedOnOnceEvenWhenBusy) {
    ack_reset_for_test();
    start_notifier();
    CheckIds ids;
    ids.known = true;
    ids.messages = {{"a", 1}, {"b", 1}};
    ASSERT_EQ(ack_filter(0, 2, ids), 2);
    ASSERT_TRUE(ack_possible(0));
    tool_write("Answer", "1"); // busy
    tool_write("Request", "5");
    EXPECT_EQ(tick(), Dispatch::nothing);
    EXPECT_FALSE(ack_possible(0));
    EXPECT_EQ(file_key(dir_, "Job"), "105");
    EXPECT_EQ(file_key(dir_, "Request"), "0");
    EXPECT_EQ(ack_filter(0, 2, ids), 0);
    ids.messages.push_back({"c", 1});
    EXPECT_EQ(ack_filter(0, 3, ids), 1);
    ack_reset_for_test();
}

} // namespace
