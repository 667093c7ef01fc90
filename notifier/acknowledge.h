// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_ids.h"

#include <string>

// The acknowledge (已读) of the tray menu: per account, the messages that waited when the user said "I have seen
// them" no longer light the lamp. The memory lives in a small private state file beside the settings, so it
// survives a restart; it is dropped when the account's server, user or folder changes. Never a flag on a server.
// The monitor's job thread filters each check through it; the window thread acknowledges.

// The state file.
std::string ack_file_path();

// Job thread, after a check of account index that worked: the count the lamp is to show. Remembers what the check
// saw, for an acknowledge that comes later.
int ack_filter(int index, int count, const CheckIds& ids);

// Window thread: acknowledges what the last check of the account saw (index -1: every account). True when
// something was acknowledged; the caller then wakes the monitor so that the lamp goes out at once.
bool ack_account(int index);
// How many of the account's messages are acknowledged now: the checks count them, the lamp does not.
long long ack_remembered(int index);
// Whether the last check of the account left something that an acknowledge would put out.
bool ack_possible(int index);

// Forgets what was loaded and seen, as a new process would (tests).
void ack_reset_for_test();
