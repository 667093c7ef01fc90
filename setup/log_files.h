// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "logging/log.h"

#include <string>

// The log page's work on the state and error logs, apart from the widgets.

// Entry of the day list (0 for day 1 ... 30 for day 31) for the day written after the switch character of a
// StateLog / ErrorLog value; -1 when that day is missing, zero or beyond 31.
int log_day_entry(const std::string& value);

// The value with its switch character set ('1' on, '0' off) and the day digits kept; an empty value becomes the
// switch character alone.
std::string log_switch_value(const std::string& value, bool on);

// Path of a family's file for entry k of the day list; no entry (-1) gives day 00, a file that never exists.
std::string log_day_path(LogKind kind, int entry);

// Deletes the family's files of day 1 to 31; files that do not exist are passed over.
void clear_log_files(LogKind kind);
