// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

// The command-line verbs of kd5lite for scripts and keyboard shortcuts: --status [--json], --ack [N],
// --check-now, --start, --stop and --snooze MINUTES ask the running notifier over the session bus, or through the command mailbox
// where no bus runs (what the mailbox cannot carry is refused then). Run with an application object, before any
// settings directory is made.

// The exit statuses besides 0 (done) and 2 (a usage error, answered before this runs).
inline constexpr int kVerbRefused = 1;    // the notifier cannot take it now; err says why
inline constexpr int kVerbNoNotifier = 3; // no notifier runs

// Whether word is a verb; with value: whether value is one it takes ("--json" for --status, 1 to 3 for --ack,
// digits for --snooze).
bool is_service_verb(const std::string& word);
bool verb_value_ok(const std::string& verb, const std::string& value);

int run_service_verb(const std::string& verb, const std::string& value, std::FILE* out, std::FILE* err);
