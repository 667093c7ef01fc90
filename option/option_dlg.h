// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "gui/tab_window.h"

// The option program's window: four pages, created (and so reading their keys) in tab order, the sender page
// shown. Its close box ends the program as its Close button does.
class COptionDlg : public TabWindow {
    Q_OBJECT
public:
    COptionDlg();
};
