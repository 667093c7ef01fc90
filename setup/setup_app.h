// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

// The setup program: one modal window; the program ends when it does.
class CSetupApp : public QApplication {
    Q_OBJECT
public:
    CSetupApp(int& argc, char** argv);

    // Runs the window; 0 when it was closed by its close box (its Close button ends the process with 1).
    int run();
};
