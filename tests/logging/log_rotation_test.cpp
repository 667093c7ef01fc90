// SPDX-License-Identifier: GPL-3.0-or-later
#include "logging/log.h"

#include "logging/log_gate.h"
#include "platform/profile.h"
#include "platform/timing.h"
#include "settings/log_markers.h"
#include "settings/settings.h"
#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::string marker_in_file(const TempCorvo& dir) {
    char buf[64];
    profile_get_string("corvo\\KD-5lite", "StateLog", "<missing>", buf, sizeof buf, dir.settings_path().c_str());
    return buf;
}

TEST(StateLog, SameDayAppendsAndKeepsTheMarker) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 3, 9, 5, 1);
    dir.write("log03.log", "old\r\n");
    std::strcpy(g_settings.StateLog, "103");
    write_state_log("start");
    EXPECT_EQ(dir.read("log03.log"), "old\r\n03/03 09:05:01 start\r\n");
    EXPECT_STREQ(g_settings.StateLog, "103");
    EXPECT_FALSE(dir.exists("corvo_kd5lite.ini"));
}

TEST(StateLog, NewDayNumberBeginsItsFileAfreshAndMovesTheMarker) {
    TempCorvo dir;
    FixedClock clock(2026, 4, 4, 23, 59, 58);
    dir.write("log04.log", "last month\r\n");
    std::strcpy(g_settings.StateLog, "103");
    write_state_log("neutral");
    write_state_log("two\nlines");
    EXPECT_EQ(dir.read("log04.log"), "04/04 23:59:58 neutral\r\n04/04 23:59:58 two\r\nlines\r\n");
    EXPECT_STREQ(g_settings.StateLog, "104");
    EXPECT_EQ(marker_in_file(dir), "104");
    struct stat st {};
    ASSERT_EQ(stat(dir.path("log04.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(StateLog, SwitchedOffWritesNothingAndFreezesTheMarker) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 9);
    std::strcpy(g_settings.StateLog, "003");
    write_state_log("x");
    std::strcpy(g_settings.ErrorLog, "");
    write_error_log("y");
    EXPECT_FALSE(dir.exists("log09.log"));
    EXPECT_FALSE(dir.exists("err09.log"));
    EXPECT_STREQ(g_settings.StateLog, "003");
}

// The log page switched the state log off while the notifier ran on the record it loaded before: the first line
// of the next day must not write the old "on" back, nor begin a file.
TEST(StateLog, ASwitchTurnedOffInTheFileStaysOffAtMidnight) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 3, 23, 59, 59);
    std::strcpy(g_settings.StateLog, "103");
    write_state_log("before");
    settings_put(Key::StateLog, "003"); // what the log page's Apply writes
    std::strcpy(g_settings.StateLog, "103");
    dir.write("log04.log", "last month\r\n");
    clock.set(2026, 3, 4, 0, 0, 1);
    write_state_log("after midnight");
    write_state_log("and later");
    EXPECT_EQ(marker_in_file(dir), "003");
    EXPECT_STREQ(g_settings.StateLog, "003");
    EXPECT_EQ(dir.read("log04.log"), "last month\r\n");
    EXPECT_EQ(dir.read("log03.log"), "03/03 23:59:59 before\r\n");
}

// A link planted in place of a day's log would have the line appended to whatever it names.
TEST(StateLog, ALinkInPlaceOfTheLogIsNotFollowed) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 3);
    dir.write("target", "someone else's\r\n");
    ASSERT_EQ(symlink(dir.path("target").c_str(), dir.path("log03.log").c_str()), 0);
    std::strcpy(g_settings.StateLog, "103");
    write_state_log("line");
    EXPECT_EQ(dir.read("target"), "someone else's\r\n");
}

TEST(StateLog, OneCharacterSwitchCountsAsDayZero) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 7);
    dir.write("err07.log", "old\r\n");
    std::strcpy(g_settings.ErrorLog, "1");
    write_error_logf("USB operation ---> Open abnormality[error: %d]", 2);
    EXPECT_EQ(dir.read("err07.log"), "03/07 09:05:01 USB operation ---> Open abnormality[error: 2]\r\n");
    EXPECT_STREQ(g_settings.ErrorLog, "107");
}

TEST(StateLog, MonthEndLeavesTheThirtyFirstAndSameDayNextMonthAppends) {
    TempCorvo dir;
    FixedClock clock(2026, 1, 31);
    std::strcpy(g_settings.StateLog, "131");
    dir.write("log01.log", "from december\r\n");
    write_state_log("jan 31");
    clock.set(2026, 2, 1);
    write_state_log("feb 1");
    EXPECT_EQ(dir.read("log01.log"), "02/01 09:05:01 feb 1\r\n");
    EXPECT_EQ(dir.read("log31.log"), "01/31 09:05:01 jan 31\r\n");

    // No line between 1 February and 1 March: the March lines join the February file.
    clock.set(2026, 3, 1);
    write_state_log("mar 1");
    EXPECT_EQ(dir.read("log01.log"), "02/01 09:05:01 feb 1\r\n03/01 09:05:01 mar 1\r\n");
}

TEST(Trace, EnableZeroWritesNothingAndEnableOneAccumulatesAcrossMonths) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 5);
    write_trace(LogKind::reg, 0, "quiet");
    write_pop_trace(0, "(S) ", "USER x\r\n");
    const unsigned char bytes[] = "ON1\r";
    write_usb_trace(0, "(S)", bytes);
    EXPECT_FALSE(dir.exists("reg05.log") || dir.exists("pop05.log") || dir.exists("usb05.log"));

    write_trace(LogKind::sys, 1, "march");
    clock.set(2026, 4, 5);
    write_trace(LogKind::sys, 1, "april");
    write_pop_trace(1, "(R) ", "+OK\r\n");
    EXPECT_EQ(dir.read("sys05.log"), "03/05 09:05:01 march\r\n04/05 09:05:01 april\r\n");
    EXPECT_EQ(dir.read("pop05.log"), "04/05 09:05:01 (R) +OK\r\r\n");
}

// The settings file fails the rotation that reads and moves the markers, and says so in the error log: each
// failure's line lands after that log's own rotation, in the file just begun, ahead of the line that met it. No
// writer waits on itself and no day's file is begun twice.
TEST(StateLog, ARotationThatCannotReachTheSettingsFileSaysSoInTheErrorLog) {
    struct Case {
        const char* what;
        const char* state_marker;
        const char* error_marker;
        bool fifo; // a FIFO in place of the file: neither read nor written; else another writer holds the lock
        bool state_line;
        std::vector<std::string> errors;
    } cases[] = {
        {"the error log crosses a day, the lock held", "", "106", false, false,
         {"INI operation ---> Lock abnormality[error: 110]", "LAN operation ---> x"}},
        {"both logs cross a day, the lock held", "106", "106", false, true,
         {"INI operation ---> Lock abnormality[error: 110]", "INI operation ---> Lock abnormality[error: 110]",
          "LAN operation ---> x"}},
        {"the error log crosses a day, the file a FIFO", "", "106", true, false,
         {"INI operation ---> Reading abnormality[error: 22]",
          "INI operation ---> Writing abnormality [unreadable file][error: 22]", "LAN operation ---> x"}},
        {"the state log crosses a day, the file a FIFO", "106", "107", true, true,
         {"INI operation ---> Reading abnormality[error: 22]",
          "INI operation ---> Writing abnormality [unreadable file][error: 22]", "LAN operation ---> x"}},
    };
    for (const Case& c : cases) {
        TempCorvo dir;
        FixedClock clock(2026, 3, 7);
        Timing t;
        t.settings_lock_wait_ms = 100;
        set_timing(t);
        dir.write("log07.log", "last month\r\n");
        dir.write("err07.log", "last month\r\n");
        ini_read_key(Key::Request); // a read that succeeds: the next failing one is reported again
        int holder = -1;
        if (c.fifo) {
            mkfifo(dir.settings_path().c_str(), 0600);
        } else {
            holder = open((dir.settings_path() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
            flock(holder, LOCK_EX);
        }
        std::strcpy(g_settings.StateLog, c.state_marker);
        std::strcpy(g_settings.ErrorLog, c.error_marker);
        write_state_log("state");
        write_error_log("LAN operation ---> x");
        std::string want = std::strcmp(c.error_marker, "107") == 0 ? "last month\r\n" : "";
        for (const std::string& line : c.errors) {
            want += "03/07 09:05:01 " + line + "\r\n";
        }
        EXPECT_EQ(dir.read("err07.log"), want) << c.what;
        EXPECT_EQ(dir.read("log07.log"), c.state_line ? "03/07 09:05:01 state\r\n" : "last month\r\n") << c.what;
        EXPECT_STREQ(g_settings.ErrorLog, "107") << c.what; // moved in memory all the same
        close(holder);
        set_timing(Timing{});
    }
}

// Until a program hands the writers its markers, the state and error logs are off whatever the record says.
TEST(StateLog, WithoutTheGateNothingIsWritten) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 7);
    std::strcpy(g_settings.StateLog, "106");
    std::strcpy(g_settings.ErrorLog, "107");
    set_log_gate({});
    write_state_log("state");
    write_error_log("error");
    connect_log_markers();
    EXPECT_FALSE(dir.exists("log07.log") || dir.exists("err07.log"));
    EXPECT_STREQ(g_settings.StateLog, "106");
}

// Two threads write at once: every line is whole and the day's file is begun afresh only once.
TEST(StateLog, ConcurrentWritersKeepLinesWholeAndRotateOnce) {
    TempCorvo dir;
    FixedClock clock(2026, 3, 8);
    dir.write("log08.log", "february\r\n");
    std::strcpy(g_settings.StateLog, "107");
    const std::string text(200, 'z');
    auto writer = [&] {
        for (int i = 0; i < 200; ++i) {
            write_state_log(text.c_str());
        }
    };
    std::thread a(writer), b(writer);
    a.join();
    b.join();
    std::string line = "03/08 09:05:01 " + text + "\r\n";
    std::string want;
    for (int i = 0; i < 400; ++i) {
        want += line;
    }
    EXPECT_EQ(dir.read("log08.log"), want);
}

} // namespace
