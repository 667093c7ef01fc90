// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a figure program reads of a process it started (the notifier) from /proc.

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// utime + stime of a process in seconds, and its resident set in KiB.
inline double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::size_t close = text.rfind(')');
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    // After the name: state is field 3 of the line, utime 14 and stime 15.
    return (std::stod(fields[11]) + std::stod(fields[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A field of /proc/PID/status in KiB: VmRSS (resident now) or VmHWM (the peak).
inline long status_kib(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::atol(line.c_str() + field.size() + 1);
        }
    }
    return -1;
}

inline long resident_kib(pid_t pid) {
    return status_kib(pid, "VmRSS");
}
