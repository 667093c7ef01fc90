// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/desktop_notifications.h"
#include "notifier/service_view.h"
#include "notifier/tray_icons.h"

#include <QMenu>
#include <QTimer>
#include <QWidget>

class DiagnosisWindow;
class NotifierService;
class QAction;
class QSocketNotifier;
class QSystemTrayIcon;

// The notifier's main window, never shown. It owns the tray icon with its menu and the poll timer, and moves each
// tick's values between them, the command mailbox and the monitor's status.
class CNotifierDlg : public QWidget {
public:
    CNotifierDlg();

    // Removes the tray icon and ends the process at once with exit code 1. A running job is cut off where it is,
    // and the lamp keeps what it shows.
    [[noreturn]] void end_now();

    // The tray menu as it is offered now (tests).
    QMenu& tray_menu();
    // The tip the icon shows, or would show were there a notification area (built only where there is one).
    QString tray_tip() const;
    // The window of 诊断…, made at its first use (tests, screenshots).
    DiagnosisWindow& diagnosis();
    // The session bus service, told at each tick what changed; none without a bus.
    void attach_service(NotifierService* service) { service_ = service; }

private:
    void build_menu();
    void update_menu();
    void OnTimer();
    void look_for_tray();
    void show_status(bool step_frame);
    void tell_others(const std::vector<Announcement>& news);
    // Both end the process unless an end has already begun, which they then leave to finish.
    void end_by_user();    // tray menu and Request 99: recorded in Job and the state log
    void end_of_session(); // the login session ends: nothing is recorded, so monitoring resumes
    bool begin_end();      // false when an end has already begun

    int frame_ = 0;
    std::array<LampLook, 3> look_{LampLook::grey, LampLook::grey, LampLook::grey};
    QString tip_;
    QSystemTrayIcon* tray_ = nullptr;
    QMenu menu_;
    QAction* check_now_ = nullptr;
    QAction* start_ = nullptr;
    QAction* stop_ = nullptr;
    QMenu* ack_menu_ = nullptr;
    QAction* ack_all_ = nullptr;
    std::array<QAction*, 3> ack_accounts_{};
    QTimer timer_;
    QTimer tray_look_;
    QSocketNotifier* end_signal_ = nullptr;
    bool ending_ = false;
    DesktopNotifications notifications_;
    DiagnosisWindow* diagnosis_ = nullptr;
    NotifierService* service_ = nullptr;
    ServiceView view_ = read_service_view();
};
