// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ctime>
#include <string_view>

// Quiet: a time of day (QuietStart to QuietEnd, "HH:MM" local time), a snooze from the tray menu, or the desktop's
// notification server saying it is inhibited (do not disturb). While quiet the buzzer, the wave files and the
// theme's sound stay silent and notifications go out low and soundless; the LEDs and the counts work as always:
// a light that stays on while the sound is silent is what a lamp is good at.

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

// Pure: quiet or not at second `now` of the local day, and for how many seconds more, from the quiet time and
// a snooze that has snooze_left seconds to run (0: none). A window whose end is before its start runs over
// midnight; a snooze that ends inside the window lasts until the window's end, and the other way round.
struct QuietSpan {
    bool quiet = false;
    int seconds_left = 0;
    bool operator==(const QuietSpan&) const = default;
};
QuietSpan quiet_span(std::string_view start, std::string_view end, int now, long long snooze_left);

// Seconds from second `now` of the day to the next time the clock shows second `target`: 1 to a whole day.
int seconds_to_next(int now, int target);

// Why it is quiet now, for the tray's tip.
enum class QuietCause { none, hours, snooze, desktop };

struct QuietNow {
    bool quiet = false;
    QuietCause cause = QuietCause::none;
    std::time_t until = 0; // when it ends; 0 when the desktop decides (inhibited)
};

// Quiet at calendar time now, from QuietStart and QuietEnd as the settings record holds them, the snooze and the
// desktop's inhibition. The hours and the snooze name the cause before the desktop does.
QuietNow quiet_at(std::time_t now);

// The same, after reading QuietStart and QuietEnd from the settings file: a monitor that runs for days takes a
// change made on the 声音 tab at its next announcement (job thread).
QuietNow quiet_now();

// The snooze (window thread); until 0 ends it. Shared with the job thread.
void quiet_snooze(std::time_t until);
std::time_t quiet_snoozed_until();

// 静音到明天: until the quiet time's next end, or the next 08:00 without a quiet time.
std::time_t quiet_tomorrow(std::time_t now);

// The notification server's Inhibited property (window thread); shared with the job thread.
void quiet_set_inhibited(bool inhibited);
