// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_outcome.h"

#include <string>
#include <vector>

// The health of each account as the mail monitor keeps it, on its job thread: from the outcome of each check and
// from the time that passes in the wait between passes (notifier/health_rules.h). A change shows at once in the
// tray's record, as one line in the state log and as a notification that the window thread shows; the LED of an
// account in health signal blinks slowly, driven from the wait, one answered command at a time.

void health_start(); // the monitor starts: no account has health yet
void health_end();   // the monitor ends: no account has health, and their notifications close

void health_not_watched(int account); // switched off or not ready: no health
void health_new_mailbox(int account); // another server, user, protocol or folder: its grace starts afresh
// A check of account ended with outcome (ok when it worked).
void health_checked(const Account& account, const CheckOutcome& outcome);

// One step of the wait between passes: time goes on (an account may become late), a resume from a suspend starts
// every grace afresh, and the LEDs in health signal get their blink, each command answered before the next.
void health_step();

// After a pass's lamp update, which showed every LED as its lit flag says: whether the lamp could be opened.
void health_lamp_shown(bool present);

// The buzzer or sound files of led_beep, for the newly lit accounts that are not in health signal: an LED that
// blinks for its health never beeps. Returns led_beep's result.
int health_beep();

// Whether account's LED is in health signal: it blinks, and it never beeps.
bool health_signal(int account);

// Whether an account is late or needs the user: its blink begins, and goes on, at a step of the wait, so the wait
// looks at every step; while all are watching it may look far more rarely.
bool health_unsettled();

// What the window thread is to do with an account's health notification: show (or replace) it, or close it.
struct HealthNoticeRequest {
    int account = 0;
    bool close = false;
    std::string summary;
    std::string body;
};
std::vector<HealthNoticeRequest> take_health_notices();
