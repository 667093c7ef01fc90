// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/account.h"
#include "mail/core/check_outcome.h"
#include "mail/net/cancel_signal.h"
#include "notifier/check/check_report.h"

#include <chrono>
#include <string>

// One switched-on account as the diagnosis goes through it (check_accounts.cpp): where its lines go, its topic, the
// account as the next pass reads it, and the time all of its steps share.
struct AccountCheck {
    using Clock = std::chrono::steady_clock;

    CheckReport& report;
    std::string topic; // "account 1 (red)"
    Account account;   // an online account's placed where its source says
    Clock::time_point deadline;

    // What is left of the account's time, and whether it has run out.
    int left_ms() const;
    bool time_up() const { return Clock::now() >= deadline; }
    void fail(const std::string& text) const { report.fail(topic, text); }
    // A step that failed once the account's time had run out, as the step it got as far as.
    void fail_out_of_time(CheckStep step) const;
    void progress(const std::string& text) const { report.progress(topic, text); }
};

// While it lives, every step of the account ends by its deadline (check_account_ms of the timing record): the mail
// connections' waits through a thread deadline, a token fetch through the token sources' stop, which it clears
// again at the end for the next account.
class AccountClock {
public:
    explicit AccountClock(const AccountCheck& check);
    ~AccountClock();
    AccountClock(const AccountClock&) = delete;
    AccountClock& operator=(const AccountClock&) = delete;

private:
    ThreadDeadline waits_;
};

// The name lookup, the connection, TLS and the greeting, as the next pass goes through them, each with its line;
// a common mistake in one plain sentence. A port that stays silent in clear is tried with TLS. Whether it worked.
bool check_reach(AccountCheck& check);

// The login and the count, as the next pass makes them (mail_check); whether they worked. What went wrong is told
// from the outcome's step and kind, the line shown only where it says more.
bool check_login(AccountCheck& check);

// Over IMAP, whether the server offers IDLE once logged in: whether a change reaches the LED at once.
void check_push(const AccountCheck& check);

// A failure without a sentence of its own: its error-log line, made safe, with where the lines are explained.
std::string unexplained(const CheckOutcome& outcome);

// A time for a sentence: "10 s", "2.5 s".
std::string seconds_text(long long ms);

// The account's index-th colour and the number the user counts from: "account 1 (red)".
std::string account_topic(int index);
