#pragma once

#include <QIcon>

#include <array>

// The icons are drawn here rather than shipped as images: three round lamps, and for the tray a row of chevrons
// below them that moves one pixel to the right from one frame to the next, so that stepping through the frames
// makes the chevrons run.
inline constexpr int kTrayFrameCount = 7;

// Red and yellow side by side above a green one.
QIcon application_icon();

// Red, yellow and green in a row above the chevrons; frame k (0 to 6) has the row shifted k pixels.
std::array<QIcon, kTrayFrameCount> tray_frames();
