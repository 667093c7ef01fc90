// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_text.h"

#include <cstdio>

namespace {

// "到 07:00", or "到明天 07:00" when that is on a later day than now.
std::string until_text(std::time_t until, std::time_t now) {
    std::tm end{};
    std::tm today{};
    localtime_r(&until, &end);
    localtime_r(&now, &today);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d", end.tm_hour, end.tm_min);
    const bool later_day = end.tm_year != today.tm_year || end.tm_yday != today.tm_yday;
    return (later_day ? std::string("到明天 ") : std::string("到 ")) + text;
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
