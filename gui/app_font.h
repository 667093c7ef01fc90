// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QApplication;
class QFont;

// The tools' dialog font: 9-point Noto Sans CJK SC, which Debian ships in fonts-noto-cjk; the system font at
// 9 points where it is missing.
QFont dialog_font();

// Makes the dialog font the application's, so every window, page and message box uses it.
void apply_dialog_font(QApplication& app);
