#pragma once

// Push for IMAP accounts: while the mail monitor runs, one extra connection per IMAP account whose server offers
// IDLE waits for the server to announce a change and then wakes the monitor (monitor_wake.h) for a pass. The
// watchers run on threads of their own and share nothing with the monitor but the wake object; they never touch
// the lamp or the counts, and only read the account's settings (through the locked accessors) when they connect.

// Starts one watcher for each IMAP account that ready(index) accepts, from the settings record as it is now.
void push_start(bool (*ready)(int index));

// Ends every watcher's connection (DONE, LOGOUT, close); returns within about a second, the connections closed.
void push_stop();
