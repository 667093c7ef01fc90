// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

// The notifier program: takes the single-instance lock, resets the command mailbox and runs the hidden main window.
class CNotifierApp : public QApplication {
public:
    CNotifierApp(int& argc, char** argv);

    // Before the application object exists: with no display to talk to, Qt would abort at start; the notifier then
    // runs without a window system, as it does where there is no notification area.
    static void choose_platform();

    // Runs the program; returns only for a refused second instance (exit code 1).
    int InitInstance();

private:
    void refuse();
};
