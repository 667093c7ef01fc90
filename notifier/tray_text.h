// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "lamp/quiet.h"
#include "notifier/tray_status.h"

#include <ctime>
#include <string>

// The tray's words beside its tip (tray_status.h): pure, so that they are tested without a panel.

// The tip's line while quiet, with when it ends: "静音时段，到 07:00", "已静音，到明天 08:00", "桌面勿扰：不响铃";
// empty while not quiet. now: the calendar time the line is made at (for "明天").
std::string quiet_tip_line(const QuietNow& quiet, std::time_t now);

// The StatusNotifier status: Passive while monitoring is stopped, NeedsAttention while mail waits, else Active.
const char* tray_item_status(const TrayStatus& status);

// A tooltip of a StatusNotifier host: a short title (the tip's first line) and the rest as its text.
struct TipParts {
    std::string title;
    std::string text;
};
TipParts tip_parts(const std::string& tip);
