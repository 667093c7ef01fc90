// SPDX-License-Identifier: GPL-3.0-or-later
// The demo's mail traffic: what a person watching the lamp must get to see in every round.

#include "demo/schedule.h"
#include "settings/settings.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using Counts = std::array<int, kAccountCount>;

// The waiting messages of each account after every step of the first rounds.
std::vector<Counts> replay(int steps) {
    std::vector<Counts> after;
    Counts now{};
    for (int step = 0; step < steps; ++step) {
        MailEvent e = mail_event(step);
        if (e.kind == MailEvent::add) {
            EXPECT_GE(e.account, 0);
            EXPECT_LT(e.account, kAccountCount);
            ++now[e.account];
        } else if (e.kind == MailEvent::empty) {
            now = Counts{};
        }
        after.push_back(now);
    }
    return after;
}

// Catches a first step without mail (the first pass would show nothing) and an account that never lights.
TEST(DemoSchedule, FirstStepBringsMailAndEveryAccountRisesBeforeTheMaildropsEmpty) {
    std::vector<Counts> after = replay(kMailRoundSteps);
    EXPECT_EQ(mail_event(0).kind, MailEvent::add);
    Counts peak{};
    int rises = 0;
    for (std::size_t step = 0; step < after.size(); ++step) {
        for (int i = 0; i < kAccountCount; ++i) {
            peak[i] = std::max(peak[i], after[step][i]);
            rises += step > 0 && after[step][i] > after[step - 1][i];
        }
    }
    for (int i = 0; i < kAccountCount; ++i) {
        EXPECT_GE(peak[i], 2) << "account " << i << " gets no second message: no rise on a lit LED is shown";
    }
    EXPECT_GE(rises, 2 * kAccountCount - 1);
    EXPECT_EQ(after.back(), Counts{}) << "the round must end with empty maildrops, so every LED goes off";
}

// Catches a demo that goes quiet after one round.
TEST(DemoSchedule, RoundsRepeat) {
    for (int step = 0; step < kMailRoundSteps; ++step) {
        MailEvent first = mail_event(step);
        MailEvent later = mail_event(step + 3 * kMailRoundSteps);
        EXPECT_EQ(first.kind, later.kind) << "step " << step;
        EXPECT_EQ(first.account, later.account) << "step " << step;
    }
}

} // namespace
