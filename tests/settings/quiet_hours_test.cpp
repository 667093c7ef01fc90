// SPDX-License-Identifier: GPL-3.0-or-later
// The quiet time of day as the two keys give it, and whether it is quiet at a time and for how long.

#include "settings/quiet_hours.h"

#include <gtest/gtest.h>

namespace {

constexpr int at(int hours, int minutes, int seconds = 0) {
    return (hours * 60 + minutes) * 60 + seconds;
}

// Catches a time read with blanks, signs, a third digit or out of range, and "7:00" refused.
TEST(QuietHours, TimesOfDayAreHoursAndMinutes) {
    const struct {
        const char* text;
        int want;
    } rows[] = {
        {"", kQuietEmpty},        {"00:00", 0},             {"07:30", at(7, 30)},      {"7:30", at(7, 30)},
        {"23:59", at(23, 59)},    {"24:00", kQuietMalformed}, {"12:60", kQuietMalformed}, {"7:5", kQuietMalformed},
        {"123:00", kQuietMalformed}, {" 7:30", kQuietMalformed}, {"07:30 ", kQuietMalformed}, {"0730", kQuietMalformed},
        {":30", kQuietMalformed}, {"-1:30", kQuietMalformed}, {"07.30", kQuietMalformed}, {"ab:cd", kQuietMalformed},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(quiet_time_of_day(r.text), r.want) << '"' << r.text << '"';
    }
}

// Catches a window over midnight taken as empty, an end counted inside the window, one empty key taken as a
// window, and a snooze and a window that do not extend each other.
TEST(QuietHours, QuietNowAndForHowLong) {
    const struct {
        const char* what;
        const char* start;
        const char* end;
        int now;
        long long snooze_left;
        QuietSpan want;
    } rows[] = {
        {"none", "", "", at(3, 0), 0, {false, 0}},
        {"inside", "12:00", "14:00", at(13, 0), 0, {true, at(1, 0)}},
        {"at the start", "12:00", "14:00", at(12, 0), 0, {true, at(2, 0)}},
        {"at the end", "12:00", "14:00", at(14, 0), 0, {false, 0}},
        {"before", "12:00", "14:00", at(11, 59, 59), 0, {false, 0}},
        {"over midnight, late", "22:00", "07:00", at(23, 30), 0, {true, at(7, 30)}},
        {"over midnight, early", "22:00", "07:00", at(6, 59), 0, {true, at(0, 1)}},
        {"over midnight, day", "22:00", "07:00", at(12, 0), 0, {false, 0}},
        {"equal times: no window", "08:00", "08:00", at(8, 0), 0, {false, 0}},
        {"start only", "22:00", "", at(23, 0), 0, {false, 0}},
        {"end only", "", "07:00", at(3, 0), 0, {false, 0}},
        {"malformed start", "22:00:00", "07:00", at(23, 0), 0, {false, 0}},
        {"malformed end", "22:00", "7h", at(23, 0), 0, {false, 0}},
        {"snooze alone", "", "", at(15, 0), 3600, {true, 3600}},
        {"snooze with a bad window", "x", "y", at(15, 0), 60, {true, 60}},
        {"snooze into the window", "22:00", "07:00", at(21, 30), 3600, {true, at(9, 30)}},
        {"window into a longer snooze", "22:00", "07:00", at(6, 0), at(3, 0), {true, at(3, 0)}},
        {"snooze inside the window", "22:00", "07:00", at(23, 0), 600, {true, at(8, 0)}},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(quiet_span(r.start, r.end, r.now, r.snooze_left), r.want) << r.what;
    }
}

TEST(QuietHours, SecondsToTheNextTimeTheClockShows) {
    EXPECT_EQ(seconds_to_next(at(7, 0), at(8, 0)), 3600);
    EXPECT_EQ(seconds_to_next(at(9, 0), at(8, 0)), at(23, 0));
    EXPECT_EQ(seconds_to_next(at(8, 0), at(8, 0)), kDaySeconds); // tomorrow's, not now
}

} // namespace
