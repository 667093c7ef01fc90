// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/local_time.h"

#include "platform/clock.h"

#include <ctime>

void get_local_time(LocalTime& t) {
    std::time_t now = clock_now();
    std::tm tm{};
    localtime_r(&now, &tm);
    t = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}
