// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

// The quiet time of day, QuietStart to QuietEnd ("HH:MM" local time), as every program reads the two keys: the
// notifier to keep still, the option program to refuse what the notifier could not read. Pure.

inline constexpr int kDaySeconds = 24 * 60 * 60;

// The second of the day that an "HH:MM" (or "H:MM") text names; kQuietEmpty for an empty text, kQuietMalformed for
// anything else (no blanks, hours 0 to 23, minutes 00 to 59).
inline constexpr int kQuietEmpty = -1;
inline constexpr int kQuietMalformed = -2;
int quiet_time_of_day(std::string_view text);

// Whether both texts make a quiet time: both empty is none, one empty or either malformed is none too (and a
// mistake to report), equal times are an empty window.
enum class QuietHoursForm { none, window, malformed };
QuietHoursForm quiet_hours_form(std::string_view start, std::string_view end);

// Quiet or not at second `now` of the local day, and for how many seconds more, from the quiet time and a snooze
// that has snooze_left seconds to run (0: none). A window whose end is before its start runs over midnight; a
// snooze that ends inside the window lasts until the window's end, and the other way round.
struct QuietSpan {
    bool quiet = false;
    int seconds_left = 0;
    bool operator==(const QuietSpan&) const = default;
};
QuietSpan quiet_span(std::string_view start, std::string_view end, int now, long long snooze_left);

// Seconds from second `now` of the day to the next time the clock shows second `target`: 1 to a whole day.
int seconds_to_next(int now, int target);
