// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/jobs.h"

#include "lamp/lamp.h"
#include "platform/timing.h"
#include "settings/settings_access.h"
#include "settings/settings_bulk.h"
#include "settings/settings_lock.h"
#include "tests/notifier/harness.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

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

// A failed check keeps the LED as the last good check left it, but only for the mailbox that check saw: pointed at
// another server, user, protocol or folder, the account shows nothing until a check of the new one succeeds.
TEST_F(Jobs, AChangedMailboxForgetsTheLedOfTheOldOne) {
    tool_write("IntervalTimer", "1");
    tool_write_account(0, "127.0.0.1:1", "taro", "secret"); // nothing listens: every check fails
    struct Step {
        const char* setting; // changed before the run; nullptr: none
        const char* value;
        int lit; // LED 0 after the run, which started lit
    } steps[] = {
        {nullptr, nullptr, 0},      // the first run learns the mailbox
        {nullptr, nullptr, 1},      // the same mailbox: the failed check keeps the LED
        {"ServerName", "127.0.0.2:1", 0},
        {"ID", "hanako", 0},
        {"Folder", "Archive", 0},
        {"Protocol", "1", 0},
        {nullptr, nullptr, 1},
    };
    for (const Step& step : steps) {
        if (step.setting != nullptr) {
            tool_write(step.setting, step.value, 0);
        }
        tool_write("Request", "4");
        g_lamp = LampState{{1, 0, 0}, {1, 0, 0}};
        ASSERT_TRUE(run_job(mail_monitor));
        EXPECT_EQ(g_lamp.lit[0], step.lit) << (step.setting != nullptr ? step.setting : "(unchanged)");
    }
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

// A tick, or a tool, that reads the file between the two writes of a job end must never find it ready for the next
// job (Answer "0") while State still says busy: the next job's State "1" would then be overwritten by this job's
// "2". The test lets exactly one of the two writes reach the file: it holds the writers' lock on the file until the
// first write has set its field, then holds the field lock so that the second write stops before its field.
TEST_F(Jobs, JobEndNeverShowsAnswerIdleWhileStateIsBusy) {
    int file_lock = open((dir_.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(file_lock, 0);
    settings_put(Key::Answer, "1");
    settings_put(Key::State, "1");
    ASSERT_EQ(flock(file_lock, LOCK_EX), 0);
    std::promise<void> ended;
    auto done = ended.get_future();
    std::thread([ended = std::move(ended)]() mutable {
        account_check();
        ended.set_value();
    }).detach();
    ASSERT_TRUE(wait_until([] { return settings_get(Key::State) == "2" || settings_get(Key::Answer) == "0"; }));
    std::unique_lock fields(settings_field_mutex());
    flock(file_lock, LOCK_UN);
    close(file_lock);
    ASSERT_TRUE(wait_until([&] { return file_key(dir_, "State") != "1" || file_key(dir_, "Answer") != "1"; }));
    EXPECT_EQ(file_key(dir_, "State"), "2");
    EXPECT_EQ(file_key(dir_, "Answer"), "1");
    fields.unlock();
    ASSERT_EQ(done.wait_for(std::chrono::milliseconds(kPatience)), std::future_status::ready);
    EXPECT_EQ(file_key(dir_, "Answer"), "0");
}

} // namespace
