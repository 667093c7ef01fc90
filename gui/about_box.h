// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QIcon>

// The tools' icon (the lamp's three LEDs), for their windows and About boxes.
QIcon tool_icon();

// A tool's About box: a modal dialog of 235 x 55 dialog units with the tools' icon, one line naming the program
// and its version, the licence line below it, and a default OK button that closes it. It is no part of the tool's window, so the keyboard
// rule of the window does not apply: Enter presses OK and Escape closes it, as in any dialog.
// The licence line under it, the same in the About box of every program.
inline constexpr char kLicenceLine[] =
    "本程序是自由软件，按 GNU 通用公共许可证第3版或（任选）更高版本（GPL-3.0-or-later）发布，不提供任何担保。";

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(QWidget* parent, const char* line);
};
