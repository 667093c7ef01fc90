// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The demo's mail traffic, one event per step: the three maildrops fill up message by message, red, green, yellow
// in turn, stay full for a while, empty all at once, stay empty, and the round begins again. Every account's count
// rises at least once per round, so every LED lights and every rise is announced.

inline constexpr int kMailStepSeconds = 5;
inline constexpr int kMailAddSteps = 6;  // two messages for each of the three accounts
inline constexpr int kMailHoldSteps = 2; // full maildrops before they empty
inline constexpr int kMailRestSteps = 2; // empty maildrops before the next round
inline constexpr int kMailRoundSteps = kMailAddSteps + kMailHoldSteps + 1 + kMailRestSteps;

struct MailEvent {
    enum Kind { none, add, empty } kind = none;
    int account = -1; // for add: 0 red, 1 green, 2 yellow
};

// The event of step n (0, 1, 2, ...).
MailEvent mail_event(int step);
