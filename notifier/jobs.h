// SPDX-License-Identifier: GPL-3.0-or-later
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
// A thread that cannot be started ends the job at once, with the same wait.
void start_job(void (*entry)());

// True from a job's start until its end has written State and Answer. The file's Answer is the tools' view of
// the same thing, but anyone can rewrite the file (an editor, a restored backup); this one only the jobs change.
bool job_running();

// Replaces how a job's thread is started (tests make it fail by throwing std::system_error); nullptr restores
// the real thread start.
void set_job_thread_starter(void (*starter)(void (*entry)()));
