// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

// The command mailbox: the five keys Request, State, Answer, Error and Job of the settings file, through which the
// setup and option programs drive the notifier. The window thread's timer calls these in tick order.

// Start-up, once the single-instance lock is held: Request, State, Answer and Error back to "0". Job keeps the
// previous run's value so that the initialise step can resume monitoring.
void mailbox_reset();

// Tick step 1: refreshes Request, State, Answer and Error from the file.
void mailbox_poll();

// Request is 1: the tray icon animates.
bool mailbox_monitoring_requested();

// A job or the initialise step is busy and nothing is dispatched: Answer is 1, or a job of this process has not
// ended yet whatever the file says.
bool mailbox_busy();

enum class Dispatch {
    nothing,
    initialised,
    job_started, // the window thread has already waited the job start time
    stop_recorded,
    end_requested, // Request 99: the caller ends the program through notifier_end_recorded
};

// Tick step 4: acts on Request.
Dispatch mailbox_dispatch();

// One whole tick of the poll timer: refreshes the keys, calls step_icon while monitoring is requested (busy or
// not), then dispatches the request unless busy (Dispatch::nothing).
Dispatch mailbox_tick(const std::function<void()>& step_icon);

// Loads, checks and saves every setting, resumes monitoring when Job is 101.
void initialise_step();

// What the tray menu and Request 99 record before the program ends: Job "199" and the state-log line.
void notifier_end_recorded();
