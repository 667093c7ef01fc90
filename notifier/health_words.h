// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "mail/core/check_outcome.h"
#include "notifier/tray_status.h"
#include "settings/key_values.h"

#include <ctime>
#include <string>

// What the tray and the notification say of an account whose check failed, in the user's words: the cause, and
// what to do about it, naming the program, its tab and its button as kd5lite --check names them.

// What the words need to know of the account beside the outcome.
struct HealthContext {
    std::string host;                          // the server, as the account names it
    OAuthSource source = OAuthSource::unknown; // an OAuth2 account's token source; unknown for a password
};

struct HealthWords {
    std::string cause; // empty when the check worked
    std::string todo;
};

HealthWords health_words(const CheckOutcome& outcome, const HealthContext& context);

// A calendar time as the tray says it: "09:41:10" today (the day of now), "3月2日 09:41" another day, "从未" for 0.
std::string health_time(std::time_t when, std::time_t now);

// The notification of an account that became late or needs the user: the summary names the LED, the account and
// the state; the body says since when it was not checked (late) and the cause and what to do. The body is markup
// for servers that read markup, so &, < and > are escaped.
struct HealthNotice {
    std::string summary;
    std::string body;
};
HealthNotice health_notice(int account, const std::string& label, Health health, const HealthWords& words,
                           std::time_t last_good, std::time_t now);
