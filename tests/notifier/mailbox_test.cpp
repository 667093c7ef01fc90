#include "notifier/mailbox.h"

#include "platform/timing.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

namespace {

// The window thread's tick without the tray icon.
Dispatch tick() {
    mailbox_poll();
    return mailbox_busy() ? Dispatch::nothing : mailbox_dispatch();
}

class Mailbox : public ::testing::Test {
protected:
    void SetUp() override {
        Timing t;
        t.job_start_ms = 1;
        set_timing(t);
        tool_write("StateLog", "107");
    }
    void TearDown() override { set_timing(Timing{}); }

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

TEST_F(Mailbox, LeadingDigitsCountForTheMonitoringRequest) {
    for (auto [request, monitoring] :
         {std::pair{"01", true}, {"1 ", true}, {"1x", true}, {"x1", false}, {"11", false}, {"", false}}) {
        tool_write("Request", request);
        mailbox_poll();
        EXPECT_EQ(mailbox_monitoring_requested(), monitoring) << "'" << request << "'";
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

} // namespace
