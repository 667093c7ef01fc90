// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/quiet_hours.h"

#include <algorithm>

namespace {

bool digit(char c) {
    return c >= '0' && c <= '9';
}

bool in_window(int start, int end, int t) {
    return start < end ? t >= start && t < end : t >= start || t < end;
}

} // namespace

int quiet_time_of_day(std::string_view text) {
    if (text.empty()) {
        return kQuietEmpty;
    }
    const std::size_t colon = text.find(':');
    if (colon < 1 || colon > 2 || text.size() != colon + 3 || !digit(text[0]) || !digit(text[colon - 1]) ||
        !digit(text[colon + 1]) || !digit(text[colon + 2])) {
        return kQuietMalformed;
    }
    const int hours = colon == 1 ? text[0] - '0' : (text[0] - '0') * 10 + (text[1] - '0');
    const int minutes = (text[colon + 1] - '0') * 10 + (text[colon + 2] - '0');
    if (hours > 23 || minutes > 59) {
        return kQuietMalformed;
    }
    return (hours * 60 + minutes) * 60;
}

QuietHoursForm quiet_hours_form(std::string_view start, std::string_view end) {
    const int from = quiet_time_of_day(start);
    const int to = quiet_time_of_day(end);
    if (from == kQuietEmpty && to == kQuietEmpty) {
        return QuietHoursForm::none;
    }
    return from < 0 || to < 0 ? QuietHoursForm::malformed : QuietHoursForm::window;
}

int seconds_to_next(int now, int target) {
    const int ahead = ((target - now) % kDaySeconds + kDaySeconds) % kDaySeconds;
    return ahead == 0 ? kDaySeconds : ahead;
}

QuietSpan quiet_span(std::string_view start, std::string_view end, int now, long long snooze_left) {
    const bool window = quiet_hours_form(start, end) == QuietHoursForm::window;
    const int from = quiet_time_of_day(start);
    const int to = quiet_time_of_day(end);
    long long left = 0;
    // The window and the snooze each extend the other at most once: a window is shorter than a day.
    for (int round = 0; round < 3; ++round) {
        bool extended = false;
        const int t = static_cast<int>((now + left) % kDaySeconds);
        if (window && from != to && in_window(from, to, t)) {
            left += seconds_to_next(t, to);
            extended = true;
        }
        if (snooze_left > left) {
            left = snooze_left;
            extended = true;
        }
        if (!extended) {
            break;
        }
    }
    // A snooze lasts a week at most (the bus and kd5lite --snooze take no more), and a window adds less than a day.
    return {left > 0, static_cast<int>(std::min<long long>(left, 8LL * kDaySeconds))};
}
