// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "settings/quiet_hours.h"

#include <ctime>

// Quiet: a time of day (QuietStart to QuietEnd, "HH:MM" local time), a snooze from the tray menu, or the desktop's
// notification server saying it is inhibited (do not disturb). While quiet the buzzer, the wave files and the
// theme's sound stay silent and notifications go out low and soundless; the LEDs and the counts work as always:
// a light that stays on while the sound is silent is what a lamp is good at.

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
