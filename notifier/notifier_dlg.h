#pragma once

#include "notifier/tray_icons.h"

#include <QMenu>
#include <QTimer>
#include <QWidget>

class QSocketNotifier;
class QSystemTrayIcon;

// The notifier's main window, never shown. It owns the tray icon with its one-entry menu and the poll timer, and
// moves each tick's values between them and the command mailbox.
class CNotifierDlg : public QWidget {
public:
    CNotifierDlg();

    // Removes the tray icon and ends the process at once with exit code 1. A running job is cut off where it is,
    // and the lamp keeps what it shows.
    [[noreturn]] void end_now();

private:
    void OnTimer();
    void look_for_tray();
    void next_frame();
    // Both end the process unless an end has already begun, which they then leave to finish.
    void end_by_user();    // tray menu and Request 99: recorded in Job and the state log
    void end_of_session(); // the login session ends: nothing is recorded, so monitoring resumes
    bool begin_end();      // false when an end has already begun

    std::array<QIcon, kTrayFrameCount> frames_;
    std::size_t frame_ = 0;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu menu_;
    QTimer timer_;
    QTimer tray_look_;
    QSocketNotifier* end_signal_ = nullptr;
    bool ending_ = false;
};
