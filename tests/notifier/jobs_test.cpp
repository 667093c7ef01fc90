#include "notifier/jobs.h"

#include "lamp/lamp.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

class Jobs : public ::testing::Test {
protected:
    void SetUp() override {
        Timing t = scaled_timing(0.01);
        t.monitor_steps_per_min = 2;
        set_timing(t);
        setenv("KD5LITE_SERIAL_DIR", dir_.dir().c_str(), 1); // no lamp plugged in
        tool_write("StateLog", "107");
        tool_write("ErrorLog", "107");
        tool_write("SerialNumber", "XKD5TEST");
    }
    void TearDown() override {
        set_timing(Timing{});
        unsetenv("KD5LITE_SERIAL_DIR");
    }

    // Runs a job the way the job start does: busy first, settings loaded, then the job on its own thread.
    bool run_job(void (*entry)(), int timeout_ms = 20000) {
        settings_put(Key::Answer, "1");
        settings_put(Key::State, "1");
        ini_read_all();
        std::promise<void> ended;
        auto done = ended.get_future();
        // Detached, so that a job that never ends fails the test instead of hanging it.
        std::thread([entry, ended = std::move(ended)]() mutable {
            entry();
            ended.set_value();
        }).detach();
        return done.wait_for(std::chrono::milliseconds(timeout_ms)) == std::future_status::ready;
    }

    TempCorvo dir_;
    FixedClock clock_{2026, 3, 7};
};

// Without a wait between passes the stop request would never be read; with EntryCount above 3 the clearing would
// run past the three LEDs.
TEST_F(Jobs, MonitorWithoutIntervalStillStopsAndClearsOnlyThreeLamps) {
    for (const char* interval : {"0", "", "-5"}) {
        tool_write("IntervalTimer", interval);
        tool_write("EntryCount", "9");
        tool_write("Request", "4");
        g_lamp = LampState{{1, 1, 1}, {1, 1, 1}};
        ASSERT_TRUE(run_job(mail_monitor)) << "IntervalTimer '" << interval << "'";
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(g_lamp.lit[i], 0);
            EXPECT_EQ(g_lamp.notified[i], 0);
        }
        EXPECT_EQ(file_key(dir_, "State"), "2");
        EXPECT_EQ(file_key(dir_, "Answer"), "0");
    }
    std::string log = log_text(dir_, "log");
    EXPECT_EQ(count_of(log, "Email arrival of the mail monitor --> A start"), 3);
    EXPECT_EQ(count_of(log, "Email arrival of the mail monitor --> The end"), 3);
    // The lamp is missing: its failures are logged and the job carries on to its end.
    EXPECT_NE(log_text(dir_, "err").find("USB operation ---> "), std::string::npos);
}

TEST_F(Jobs, AccountCheckOnlyLogsAndEnds) {
    ASSERT_TRUE(run_job(account_check));
    std::string log = log_text(dir_, "log");
    EXPECT_NE(log.find("A mail account check --> A start\r\n03/07 09:05:01 A mail account check --> The end\r\n"),
              std::string::npos);
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
    EXPECT_EQ(log_text(dir_, "err"), "");
}

} // namespace
