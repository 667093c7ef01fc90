// SPDX-License-Identifier: GPL-3.0-or-later
// The rules of an account's health: outcome, time, grace and the state before, to the state after.

#include "notifier/health_rules.h"

#include <gtest/gtest.h>

namespace {

using enum Health;
using F = CheckFailure;
using E = HealthEvent;

constexpr long long kGrace = 1000;

HealthState state(Health health, F cause, long long grace_from, long long needs_you_from = 0) {
    return HealthState{health, cause, grace_from, needs_you_from};
}

// Catches a refused login that counts as a working check (the failure reported as success), a refusal after the
// login that wrongly fails the check, a self-mending cause that wants the user, and one that does not.
TEST(HealthRules, EachFailureCountsByWhetherItMendsItself) {
    using S = CheckStep;
    const struct {
        F failure;
        S step;
        E event;
    } rows[] = {
        {F::none, S::none, E::good},
        {F::refused, S::folder, E::good}, // a refusal after the login narrows the count, which stands
        {F::refused, S::headers, E::good},
        {F::refused, S::greeting, E::mends}, // a greeting that says go away gave no count
        {F::unreachable, S::connect, E::mends},
        {F::tls, S::tls, E::mends},
        {F::protocol_broken, S::count, E::mends},
        {F::flood, S::headers, E::mends},
        {F::certificate, S::tls, E::needs_you},
        {F::refused_login, S::user, E::needs_you},
        {F::refused_login, S::login, E::needs_you},
        {F::refused_token, S::login, E::needs_you},
        {F::sign_in_again, S::token, E::needs_you},
        {F::no_token, S::token, E::needs_you},
        {F::keyring, S::secret, E::needs_you},
        {F::settings, S::settings, E::needs_you},
        {F::stopped, S::count, E::stopped},
    };
    for (const auto& row : rows) {
        const CheckOutcome outcome{row.step, row.failure, 0, {}};
        EXPECT_EQ(health_event(row.failure, row.step), row.event) << check_failure_name(row.failure);
        EXPECT_EQ(check_counted(outcome), row.event == E::good) << check_failure_name(row.failure);
    }
}

TEST(HealthRules, StateAfterEachEvent) {
    const struct {
        const char* what;
        HealthState before;
        E event;
        F cause;
        long long now;
        HealthState after;
    } rows[] = {
        // A first check starts the grace; one that works is watching at once.
        {"first check works", {}, E::good, F::none, 500, state(watching, F::none, 500)},
        {"first check fails, mends", {}, E::mends, F::unreachable, 500, state(watching, F::unreachable, 500)},
        {"first check refused", {}, E::needs_you, F::refused_login, 500, state(needs_you, F::refused_login, 500, 500)},
        // Failures that mend themselves: watching within the grace, late after it, measured from the last good.
        {"failure within the grace", state(watching, F::none, 100), E::mends, F::unreachable, 1100,
         state(watching, F::unreachable, 100)},
        {"failure after the grace", state(watching, F::unreachable, 100), E::mends, F::tls, 1101,
         state(late, F::tls, 100)},
        {"late stays late", state(late, F::tls, 100), E::mends, F::unreachable, 5000, state(late, F::unreachable, 100)},
        {"late back to watching", state(late, F::tls, 100), E::good, F::none, 5000, state(watching, F::none, 5000)},
        // Causes that want the user: at once, and since the first such check.
        {"refused after good", state(watching, F::none, 100), E::needs_you, F::refused_login, 200,
         state(needs_you, F::refused_login, 100, 200)},
        {"needs you keeps its start", state(needs_you, F::refused_login, 100, 200), E::needs_you, F::keyring, 3000,
         state(needs_you, F::keyring, 100, 200)},
        {"needs you, then the server is away", state(needs_you, F::refused_login, 100, 200), E::mends, F::unreachable,
         3000, state(late, F::unreachable, 100)},
        {"needs you mended", state(needs_you, F::refused_login, 100, 200), E::good, F::none, 3000,
         state(watching, F::none, 3000)},
        // Time alone: a failing account becomes late once the grace is over, a healthy one never.
        {"time within the grace", state(watching, F::unreachable, 100), E::time, F::unreachable, 1100,
         state(watching, F::unreachable, 100)},
        {"time after the grace", state(watching, F::unreachable, 100), E::time, F::unreachable, 1101,
         state(late, F::unreachable, 100)},
        {"time, healthy", state(watching, F::none, 100), E::time, F::none, 99999, state(watching, F::none, 100)},
        {"time, no health", {}, E::time, F::none, 99999, {}},
        // A resume starts the grace afresh, but what wants the user still does.
        {"resume while late", state(late, F::unreachable, 100), E::restart, F::unreachable, 9000,
         state(watching, F::unreachable, 9000)},
        {"resume while needing you", state(needs_you, F::keyring, 100, 200), E::restart, F::keyring, 9000,
         state(needs_you, F::keyring, 100, 200)},
        {"resume, no health", {}, E::restart, F::none, 9000, {}},
        // A stop says nothing of the account.
        {"stopped", state(late, F::unreachable, 100), E::stopped, F::stopped, 9000, state(late, F::unreachable, 100)},
    };
    for (const auto& row : rows) {
        const HealthState got = health_next(row.before, row.event, row.cause, row.now, kGrace);
        EXPECT_EQ(got.health, row.after.health) << row.what;
        EXPECT_EQ(got.cause, row.after.cause) << row.what;
        EXPECT_EQ(got.grace_from_ms, row.after.grace_from_ms) << row.what;
        EXPECT_EQ(got.needs_you_from_ms, row.after.needs_you_from_ms) << row.what;
    }
}

// The lamp's part: late blinks at once, needs you only once it has lasted longer than the grace.
TEST(HealthRules, BlinkWhenLateOrNeedingYouPastTheGrace) {
    const struct {
        HealthState state;
        long long now;
        bool blinks;
    } rows[] = {
        {{}, 5000, false},
        {state(watching, F::unreachable, 0), 5000, false},
        {state(late, F::unreachable, 0), 1001, true},
        {state(needs_you, F::refused_login, 0, 100), 1100, false},
        {state(needs_you, F::refused_login, 0, 100), 1101, true},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(health_blinks(row.state, row.now, kGrace), row.blinks) << static_cast<int>(row.state.health);
    }
}

TEST(HealthRules, GraceIsTwiceTheIntervalAndNeverBelowTheFloor) {
    EXPECT_EQ(health_grace_ms(60000, 600000), 600000);
    EXPECT_EQ(health_grace_ms(600000, 600000), 1200000);
    EXPECT_EQ(health_grace_ms(0, 600000), 600000);
}

TEST(HealthRules, BlinkPhaseIsOneOnThreeOff) {
    std::string phases;
    for (long long step = 0; step < 9; ++step) {
        phases += blink_phase_on(step, 1, 3) ? '1' : '0';
    }
    EXPECT_EQ(phases, "100010001");
    EXPECT_TRUE(blink_phase_on(5, 0, 0)); // a record without a pause still switches the LED on
}

} // namespace
