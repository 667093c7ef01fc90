// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/check/check_report.h"

#include <cstdio>
#include <string>

// kd5lite --check: what the notifier would do on its next pass, run once in the terminal, with one line per
// finding and what to do about it. It reads the settings without the notifier's save, writes no log and no
// settings, takes no single-instance lock, and leaves the lamp alone while a notifier runs.
// Returns the exit status: 0 when monitoring would light the lamp now (a notifier runs and monitors, and
// everything it needs works), 1 otherwise.
int run_check(std::FILE* out);

// The five parts of the report, in the order it gives them. check_settings loads the settings record and returns
// false when the file cannot be read (the other parts would then only repeat that).
bool check_settings(CheckReport& report);
void check_notifier(CheckReport& report);
void check_lamp(CheckReport& report);
void check_accounts(CheckReport& report);
void check_sound(CheckReport& report);

// What an account's address domain publishes now against the account's server, as one line for its report, or ""
// when the address has no domain to ask (discovery/published.h gives it; it needs Qt, which this library does not
// use): address, ServerName, IMAP or POP3, Security 0 to 2.
using PublishedSettings = std::string (*)(const std::string& address, const std::string& server_name, bool imap,
                                          int security);
// Plugs it in for every check that follows (nullptr: the report leaves the line out).
void set_published_settings(PublishedSettings source);
