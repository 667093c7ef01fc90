// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logging/log.h"

#include <string>

// The switch and day marker of the state and error logs live in the settings store, which lies above the log
// writers and writes its own failures as error lines. The store hands the writers these calls at start-up
// (settings/log_markers.h); until then both logs are off. kind is LogKind::log or LogKind::err.
//
// No call writes a log line: the error line of a failure comes back in report (empty when there was none), and
// the writer puts it in the error log in its turn. So nothing a writer calls comes back into a writer.
struct LogGate {
    // The switch and day marker as the program's record holds it: "1" and the day digits when the log is on.
    std::string (*marker)(LogKind kind) = nullptr;
    // The marker as the settings file holds it now, taken into the record; empty when the file has none or cannot
    // be read.
    std::string (*stored_marker)(LogKind kind, std::string& report) = nullptr;
    // Sets the marker in the record and writes it to the file.
    void (*move_marker)(LogKind kind, const char* value, std::string& report) = nullptr;
};

// Takes the three calls; a gate with one of them missing switches both logs off.
void set_log_gate(const LogGate& gate);
