#pragma once

// The notifier's three worker jobs. Each runs on a thread of its own, one at a time, and ends by putting the command
// mailbox back to idle (State "2", Answer "0").
void mail_monitor();
void connection_test();
void account_check();

// Result of the last check of each account that did not fail; kept for the life of the process so that a restarted
// monitor only announces mail that arrived since.
extern int last_count[3];

// Starts entry on a new thread, keeps no handle, then holds the calling (window) thread for the job start wait.
void start_job(void (*entry)());
