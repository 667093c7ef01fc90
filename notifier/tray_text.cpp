// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_text.h"

#include <cstdio>
#include <ctime>

namespace {

bool same_day(const std::tm& a, const std::tm& b) {
    return a.tm_year == b.tm_year && a.tm_yday == b.tm_yday;
}

// "到 07:00", "到明天 07:00" when that is tomorrow, or "到 12月15日 07:00" later still (a snooze of days).
std::string until_text(std::time_t until, std::time_t now) {
    std::tm end{};
    std::tm today{};
    localtime_r(&until, &end);
    localtime_r(&now, &today);
    std::tm tomorrow = today; // noon of the next day, whatever a clock change does to the day's length
    tomorrow.tm_mday += 1;
    tomorrow.tm_hour = 12;
    tomorrow.tm_isdst = -1;
    const std::time_t next = std::mktime(&tomorrow);
    localtime_r(&next, &tomorrow);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", end.tm_hour, end.tm_min);
    if (same_day(end, today)) {
        return std::string("到 ") + text;
    }
    if (same_day(end, tomorrow)) {
        return std::string("到明天 ") + text;
    }
    char day[32];
    std::snprintf(day, sizeof day, "%d月%d日 ", end.tm_mon + 1, end.tm_mday);
    return std::string("到 ") + day + text;
}

} // namespace

std::string quiet_tip_line(const QuietNow& quiet, std::time_t now) {
    switch (quiet.cause) {
    case QuietCause::none: break;
    case QuietCause::hours: return "静音时段，" + until_text(quiet.until, now);
    case QuietCause::snooze: return "已静音，" + until_text(quiet.until, now);
    case QuietCause::desktop: return "桌面勿扰：不响铃";
    }
    return "";
}

const char* tray_item_status(const TrayStatus& status) {
    if (!status.monitoring) {
        return "Passive";
    }
    for (const AccountStatus& a : status.accounts) {
        if (a.lit) {
            return "NeedsAttention";
        }
    }
    return "Active";
}

TipParts tip_parts(const std::string& tip) {
    const std::size_t end = tip.find('\n');
    if (end == std::string::npos) {
        return {tip, ""};
    }
    return {tip.substr(0, end), tip.substr(end + 1)};
}
