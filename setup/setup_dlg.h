// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/tab_window.h"

// The setup program's window: six pages, created (and so reading their keys) in tab order, the system page shown.
class CSetupDlg : public TabWindow {
    Q_OBJECT
public:
    CSetupDlg();
};
