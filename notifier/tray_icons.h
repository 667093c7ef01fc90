// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/tray_status.h"

#include <QIcon>
#include <QImage>
#include <QPoint>
#include <QRectF>

#include <array>

// The icons are drawn here rather than shipped as images: round lamps, red and yellow side by side above a green
// one, as large as the icon allows, so that at a panel's 16 or 22 pixels each lamp still has half the icon's width.

// Everything the tray icon shows; one picture per value, and a new picture only when the value changes.
struct TrayIconState {
    std::array<LampLook, 3> lamps{LampLook::grey, LampLook::grey, LampLook::grey}; // account order
    std::array<Health, 3> health{}; // late: the lamp drawn hollow; needs_you: a "!" on it
    bool quiet = false;             // a moon in the lower left corner
    bool checking = false;          // a pass that runs for a while: a small dot in the lower right corner
    bool operator==(const TrayIconState&) const = default;
};

// The state the icon is to show: the lamps as tray_look has them, health marks only while monitoring.
TrayIconState tray_icon_state(const TrayStatus& status, bool quiet, bool checking);

// The sizes drawn for a panel, each on its own pixel grid rather than scaled from one picture.
inline constexpr int kTraySizes[] = {16, 22, 32, 48};

QImage tray_image(const TrayIconState& state, int size);
QIcon tray_icon(const TrayIconState& state);

// Where an account's lamp sits in a size x size tray image, its centre, and the centres of the corner marks.
QRectF tray_lamp_box(int account, int size);
QPoint tray_lamp_centre(int account, int size);
QPoint tray_quiet_mark_centre(int size);
QPoint tray_checking_mark_centre(int size);

// Red and yellow side by side above a green one, all lit.
QIcon application_icon();

// One lit lamp in the account's LED colour, size x size pixels (notifications).
QImage lamp_image(int account, int size);
