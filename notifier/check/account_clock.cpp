// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/check/account_check.h"

#include "credentials/token_stop.h"
#include "platform/timing.h"

#include <algorithm>
#include <atomic>

namespace {

using Clock = AccountCheck::Clock;

constexpr const char* kColour[] = {"red", "green", "yellow"};

// The account's deadline for the token sources' look, which is a plain function: one account at a time.
std::atomic<Clock::rep> g_token_deadline{0};

bool token_time_up() {
    return Clock::now().time_since_epoch().count() >= g_token_deadline.load();
}

} // namespace

int AccountCheck::left_ms() const {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, INT32_MAX));
}

void AccountCheck::fail_out_of_time(CheckStep step) const {
    fail("no answer within the " + seconds_text(timing().check_account_ms) +
         " the check gives an account (it got as far as the " + check_step_name(step) + ")");
}

AccountClock::AccountClock(const AccountCheck& check) : waits_(check.deadline) {
    g_token_deadline = check.deadline.time_since_epoch().count();
    set_token_stop_look(token_time_up);
}

AccountClock::~AccountClock() {
    set_token_stop_look(nullptr);
    token_stop_clear(); // raised by the look when a fetch outlasted the account's time
}

std::string seconds_text(long long ms) {
    const long long tenths = (std::max(0LL, ms) + 50) / 100;
    return std::to_string(tenths / 10) + (tenths % 10 != 0 ? "." + std::to_string(tenths % 10) : "") + " s";
}

std::string account_topic(int index) {
    const bool known = index >= 0 && index < static_cast<int>(std::size(kColour));
    return "account " + std::to_string(index + 1) + (known ? std::string(" (") + kColour[index] + ")" : "");
}
