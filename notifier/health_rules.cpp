// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/health_rules.h"

#include <algorithm>

HealthEvent health_event(CheckFailure failure, CheckStep step) {
    switch (failure) {
    case CheckFailure::none:
        return HealthEvent::good;
    case CheckFailure::refused:
        return step > CheckStep::login ? HealthEvent::good : HealthEvent::mends;
    case CheckFailure::unreachable:
    case CheckFailure::tls:
    case CheckFailure::protocol_broken:
    case CheckFailure::flood:
        return HealthEvent::mends;
    // A certificate that no longer matches its pin, or that no authority vouches for, stays so until the user
    // pins the new one; settings that cannot work stay so until the user mends them.
    case CheckFailure::certificate:
    case CheckFailure::refused_login:
    case CheckFailure::refused_token:
    case CheckFailure::sign_in_again:
    case CheckFailure::no_token:
    case CheckFailure::keyring:
    case CheckFailure::settings:
        return HealthEvent::needs_you;
    case CheckFailure::stopped:
        return HealthEvent::stopped;
    }
    return HealthEvent::mends;
}

bool check_counted(const CheckOutcome& outcome) {
    return health_event(outcome.failure, outcome.step) == HealthEvent::good;
}

namespace {

bool past_grace(long long from_ms, long long now_ms, long long grace_ms) {
    return now_ms - from_ms > grace_ms;
}

} // namespace

HealthState health_next(const HealthState& previous, HealthEvent event, CheckFailure cause, long long now_ms,
                        long long grace_ms) {
    HealthState next = previous;
    const bool fresh = previous.health == Health::none;
    const long long grace_from = fresh ? now_ms : previous.grace_from_ms;
    switch (event) {
    case HealthEvent::good:
        return HealthState{Health::watching, CheckFailure::none, now_ms, 0};
    case HealthEvent::needs_you:
        next.health = Health::needs_you;
        next.cause = cause;
        next.grace_from_ms = grace_from;
        next.needs_you_from_ms = previous.health == Health::needs_you ? previous.needs_you_from_ms : now_ms;
        return next;
    case HealthEvent::mends:
        next.health = past_grace(grace_from, now_ms, grace_ms) ? Health::late : Health::watching;
        next.cause = cause;
        next.grace_from_ms = grace_from;
        next.needs_you_from_ms = 0;
        return next;
    case HealthEvent::time:
        if (previous.health == Health::watching && previous.cause != CheckFailure::none &&
            past_grace(previous.grace_from_ms, now_ms, grace_ms)) {
            next.health = Health::late;
        }
        return next;
    case HealthEvent::restart:
        // What wants the user still does after a resume; a server that was away gets a new chance.
        if (previous.health == Health::watching || previous.health == Health::late) {
            next.health = Health::watching;
            next.grace_from_ms = now_ms;
        }
        return next;
    case HealthEvent::stopped:
        return next;
    }
    return next;
}

HealthState health_after_check(const HealthState& previous, const CheckOutcome& outcome, long long now_ms,
                               long long grace_ms) {
    return health_next(previous, health_event(outcome.failure, outcome.step), outcome.failure, now_ms, grace_ms);
}

bool health_blinks(const HealthState& state, long long now_ms, long long grace_ms) {
    switch (state.health) {
    case Health::late:
        return true;
    case Health::needs_you:
        return past_grace(state.needs_you_from_ms, now_ms, grace_ms);
    default:
        return false;
    }
}

long long health_grace_ms(long long interval_ms, long long floor_ms) {
    return std::max(2 * interval_ms, floor_ms);
}

bool blink_phase_on(long long step, int on_steps, int off_steps) {
    const long long period = std::max(1, on_steps) + std::max(0, off_steps);
    return step % period < std::max(1, on_steps);
}
