// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

struct LocalTime {
    int year;   // four digits
    int month;  // 1 to 12
    int day;    // 1 to 31
    int hour;   // 0 to 23
    int minute; // 0 to 59
    int second; // 0 to 60
};

// Fills t with the local time of the clock (platform/clock.h).
void get_local_time(LocalTime& t);
