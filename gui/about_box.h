// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QIcon>

// The tools' icon (the lamp's three LEDs), for their windows and About boxes.
QIcon tool_icon();

// A tool's About box: a modal dialog of 235 x 55 dialog units with the tools' icon, one line naming the program
// and its version, and a default OK button that closes it. It is no part of the tool's window, so the keyboard
// rule of the window does not apply: Enter presses OK and Escape closes it, as in any dialog.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(QWidget* parent, const char* line);
};
