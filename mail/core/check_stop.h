// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A stop asked for while a check is under way: Request 4 (stop monitoring) or 99 (end the notifier). A long check
// looks at the settings file between messages, at most once per stop_poll_ms of the timing record, and ends early;
// the monitor then ends as at a stop during its wait.

// Starts the interval: the first look comes stop_poll_ms from now.
void check_stop_arm();
// Reads Request from the settings file when the interval has passed since the last look; true when it asks for a
// stop, which is then remembered.
bool check_stop_due();
// Whether a check has seen a stop since the last check_stop_clear().
bool check_stop_seen();
void check_stop_clear();
