// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/tray_status.h"

#include <QIcon>
#include <QImage>
#include <QPoint>

#include <array>

// The icons are drawn here rather than shipped as images: three round lamps, and for the tray a row of chevrons
// below them that moves one pixel to the right from one frame to the next, so that stepping through the frames
// makes the chevrons run.
inline constexpr int kTrayFrameCount = 7;

// Red and yellow side by side above a green one.
QIcon application_icon();

// Red, yellow and green in a row above the chevrons, each lamp as look says (look is in account order: red,
// green, yellow); frame k (0 to 6) has the row of chevrons shifted k pixels.
QImage tray_image(const std::array<LampLook, 3>& look, int frame);
QIcon tray_icon(const std::array<LampLook, 3>& look, int frame);

// One lit lamp in the account's LED colour, size x size pixels (notifications).
QImage lamp_image(int account, int size);

// The centre of an account's lamp in the tray image.
QPoint tray_lamp_centre(int account);
