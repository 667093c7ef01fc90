// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"

#include <vector>

// Push for IMAP accounts: while the mail monitor runs, one extra connection per IMAP account whose server offers
// IDLE waits for the server to announce a change and then wakes the monitor (monitor_wake.h) for a pass. The
// watchers run on threads of their own and share nothing with the monitor but the wake object; they never touch
// the lamp or the counts, and each keeps its own copy of its account as the monitor read it at its start.

// Starts one watcher for each IMAP account among accounts (those the monitor checks). Every monitor start calls it,
// IMAP accounts or not: it drops the notices of the run before.
void push_start(const std::vector<Account>& accounts);

// Ends every watcher's connection (DONE, LOGOUT, close) and joins its thread: every wait of a watcher is cut short
// by the stop, and the goodbye's answers are awaited briefly, so it returns within a second, the connections
// closed.
void push_stop();

// Whether the watcher of account (0 .. 2) holds its IDLE connection: none while it has none to hold (no watcher,
// a server without IDLE, or its first connection still being made), up while it waits in IDLE, down from a
// failed or lost connection until it is back in IDLE. Read by the monitor for the tray, on any thread.
enum class PushState { none, up, down };
PushState push_state(int account);
