// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <functional>
#include <string>

// The eight families of daily log files, named by the stem of their file names ("log07.log", "err07.log", ...).
enum class LogKind { log, err, dbg, usb, pop, reg, led, sys };

// The state and error logs, switched by the first character of StateLog / ErrorLog in the settings record, which
// reaches them through the gate (logging/log_gate.h). The first line on a day other than the marker's day begins
// that day's file afresh and moves the marker.
void write_state_log(const char* text);
void write_error_log(const char* text);

// While a capture is set, error-log lines go to it instead of the file, whatever the switch says, and the day
// marker is left alone: kd5lite --check shows the lines of the operations it runs and writes nothing. nullptr
// ends the capture. Returns the capture that was set before, to be set again when this one ends. The capture is
// called under the writers' lock: it collects, and writes no log line itself.
std::function<void(const std::string&)> set_error_log_capture(std::function<void(const std::string&)> capture);

// printf-style forms of the two, for the messages that carry numbers.
void write_state_logf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void write_error_logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Trace families; a line is written only when enable is 1. write_trace takes dbg, reg, led or sys.
void write_trace(LogKind kind, int enable, const char* text);
void write_pop_trace(int enable, const char* caption, const char* data);
void write_usb_trace(int enable, const char* caption, const unsigned char* data);

// The "MM/DD hh:mm:ss " prefix of every line, for the current local time.
std::string log_prefix();

// The rows of a usb dump of n bytes with the given prefix and caption, each ending in "\n".
std::string usb_dump(const std::string& prefix, const char* caption, const unsigned char* data, std::size_t n);

// Path of the file of a family for a day of the month.
std::string log_file_path(LogKind kind, int day);

// printf into a std::string.
std::string format_text(const char* format, ...) __attribute__((format(printf, 1, 2)));
