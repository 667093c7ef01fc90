// SPDX-License-Identifier: GPL-3.0-or-later
// Quiet now, for what cause and until when: the quiet time of day, the snooze and the desktop together.

#include "lamp/quiet.h"

#include "settings/settings_access.h"
#include "tests/support/temp_corvo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

constexpr int at(int hours, int minutes) {
    return (hours * 60 + minutes) * 60;
}

class QuietClock : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    void TearDown() override {
        quiet_snooze(0);
        quiet_set_inhibited(false);
        unsetenv("TZ");
        tzset();
    }
    TempCorvo dir_;
};

// 静音到明天 ends at the quiet time's next end, else at the next 08:00, also after midnight.
TEST_F(QuietClock, UntilTomorrowEndsAtTheQuietTimesEndOrEight) {
    const std::time_t midnight = 1767225600; // 2026-01-01 00:00 UTC
    const struct {
        const char* start;
        const char* end;
        int now;
        int until; // seconds after the midnight of that day
    } rows[] = {
        {"", "", at(21, 0), kDaySeconds + at(8, 0)},
        {"", "", at(1, 0), at(8, 0)},
        {"22:00", "06:30", at(21, 0), kDaySeconds + at(6, 30)},
        {"22:00", "06:30", at(23, 0), kDaySeconds + at(6, 30)},
        {"22:00", "", at(21, 0), kDaySeconds + at(8, 0)}, // no quiet time: one key alone is none
    };
    for (const auto& r : rows) {
        settings_put(Key::QuietStart, r.start);
        settings_put(Key::QuietEnd, r.end);
        EXPECT_EQ(quiet_tomorrow(midnight + r.now), midnight + r.until) << r.start << "-" << r.end << " " << r.now;
    }
}

// The cause and the end the tray shows; a malformed quiet time is reported once, not at every look.
TEST_F(QuietClock, CauseAndEndForTheTray) {
    settings_put(Key::ErrorLog, "1");
    const std::time_t midnight = 1767225600;
    settings_put(Key::QuietStart, "22:00");
    settings_put(Key::QuietEnd, "07:00");
    QuietNow q = quiet_at(midnight + at(23, 0));
    EXPECT_TRUE(q.quiet);
    EXPECT_EQ(q.cause, QuietCause::hours);
    EXPECT_EQ(q.until, midnight + kDaySeconds + at(7, 0));
    EXPECT_FALSE(quiet_at(midnight + at(12, 0)).quiet);

    quiet_snooze(midnight + at(13, 0));
    q = quiet_at(midnight + at(12, 0));
    EXPECT_EQ(q.cause, QuietCause::snooze);
    EXPECT_EQ(q.until, midnight + at(13, 0));
    quiet_snooze(0);

    quiet_set_inhibited(true);
    q = quiet_at(midnight + at(12, 0));
    EXPECT_TRUE(q.quiet);
    EXPECT_EQ(q.cause, QuietCause::desktop);
    EXPECT_EQ(q.until, 0);
    quiet_set_inhibited(false);

    settings_put(Key::QuietEnd, "7 Uhr");
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(quiet_at(midnight + at(23, 0)).quiet);
    }
    std::string errors;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.dir())) {
        if (entry.path().filename().string().starts_with("err")) {
            errors += dir_.read(entry.path().filename());
        }
    }
    EXPECT_EQ(errors.find("quiet hours ---> The quiet time is not HH:MM to HH:MM, so there is none[QuietStart=22:00 "
                          "QuietEnd=7 Uhr]"),
              errors.rfind("quiet hours ---> "))
        << errors;
    EXPECT_NE(errors.find("QuietEnd=7 Uhr"), std::string::npos) << errors;
}

} // namespace
