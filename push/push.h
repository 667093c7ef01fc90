// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_ids.h"
#include "mail/core/check_outcome.h"

#include <vector>

// Push for IMAP accounts: while the mail monitor runs, each IMAP account whose server offers IDLE keeps one
// connection open (NOTIFY, RFC 5465, for all its folders where the server offers it), or one for each of its first
// three folders, which waits for the server to announce a change, counts the changed folders on that connection,
// and then wakes the monitor (monitor_wake.h) for a pass that takes those counts. The watchers run on threads of
// their own; they never touch the lamp, and each keeps its own copy of its account as the monitor read it at its
// start.

// Starts the watch of each IMAP account among accounts (those the monitor checks). Every monitor start calls it,
// IMAP accounts or not: it drops the notices of the run before.
void push_start(const std::vector<Account>& accounts);

// Ends every watcher's connections (DONE, LOGOUT, close) and joins their threads: every wait of a watcher is cut
// short by the stop, and the goodbye's answers are awaited briefly, so it returns within a second, the connections
// closed.
void push_stop();

// The monitor's check of one account: the count the account's watcher took on its own connections where it has one
// up (counted again there first when the interval has passed since), else mail_check on a connection of its own.
// Arguments and result as mail_check's (mail/mail_check.h).
int push_check(const Account& account, CheckIds* ids = nullptr, CheckOutcome* outcome = nullptr);
// Whether the watcher of account (0 .. 2) holds its IDLE connection: none while it has none to hold (no watcher,
// a server without IDLE, or its first connection still being made), up while it waits in IDLE, down from a
// failed or lost connection until it is back in IDLE. Read by the monitor for the tray, on any thread.
enum class PushState { none, up, down };
PushState push_state(int account);
