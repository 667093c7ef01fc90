// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_outcome.h"
#include "notifier/tray_status.h"

// The rules of an account's health, pure: what a check's ending, or time alone, makes of the state the account was
// in. Times are milliseconds of a clock that only runs forward (the monitor's steady clock).

// What happened to the account.
enum class HealthEvent {
    good,      // a check worked; a refusal after the login too, since the count it gave stands
    mends,     // a check failed for a cause that may mend itself: a server down, a network away, a broken answer
    needs_you, // a check failed for a cause that will not: a refused login or sign-in, no token, the keyring
    stopped,   // a stop cut the check short: it says nothing of the account
    time,      // no check ended; time went on
    restart,   // its grace starts afresh (the machine resumed from a suspend)
};

// How a check's failure at its step counts. A refusal after the login leaves the count standing; one before it (a
// greeting that says go away) gave none, and may mend itself.
HealthEvent health_event(CheckFailure failure, CheckStep step = CheckStep::count);

// Whether a check that ended so gave a count: it worked, or only a command after the login was refused.
bool check_counted(const CheckOutcome& outcome);

struct HealthState {
    Health health = Health::none;
    CheckFailure cause = CheckFailure::none; // of the last check, when it failed; none after one that worked
    long long grace_from_ms = 0;             // the last check that worked, or when the grace started afresh
    long long needs_you_from_ms = 0;         // when it came to need the user
};

// The state after event (with the check's failure as cause) at now_ms. An account without health (just started,
// or a new mailbox) begins its grace at its first check. Late means no check has worked for longer than grace_ms;
// a cause that wants the user makes it needs_you at once.
HealthState health_next(const HealthState& previous, HealthEvent event, CheckFailure cause, long long now_ms,
                        long long grace_ms);

// health_next for a check that ended with outcome.
HealthState health_after_check(const HealthState& previous, const CheckOutcome& outcome, long long now_ms,
                               long long grace_ms);

// Whether its LED gives the slow blink: late, or needing the user for longer than the grace.
bool health_blinks(const HealthState& state, long long now_ms, long long grace_ms);

// The grace: twice the interval between passes, and never below floor_ms.
long long health_grace_ms(long long interval_ms, long long floor_ms);

// Whether the blink's LED is on at step (counted from any start): on for on_steps, then off for off_steps.
bool blink_phase_on(long long step, int on_steps, int off_steps);
