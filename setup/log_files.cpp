// SPDX-License-Identifier: GPL-3.0-or-later
#include "setup/log_files.h"

#include "settings/key_values.h"

#include <unistd.h>

namespace {
constexpr int kDays = 31;
} // namespace

int log_day_entry(const std::string& value) {
    if (value.empty()) {
        return -1;
    }
    int day = log_day(value.c_str());
    return day >= 1 && day <= kDays ? day - 1 : -1;
}

std::string log_switch_value(const std::string& value, bool on) {
    std::string out = value.empty() ? std::string(1, ' ') : value;
    out[0] = on ? '1' : '0';
    return out;
}

std::string log_day_path(LogKind kind, int entry) {
    return log_file_path(kind, entry + 1);
}

void clear_log_files(LogKind kind) {
    for (int day = 1; day <= kDays; ++day) {
        unlink(log_file_path(kind, day).c_str());
    }
}
