// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

// The option program: one modal window; the program ends when it does.
class COptionApp : public QApplication {
    Q_OBJECT
public:
    COptionApp(int& argc, char** argv);

    // Runs the window. Its Close button and its close box end the process with status 1.
    int run();
};
