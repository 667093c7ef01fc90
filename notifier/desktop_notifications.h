// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/announcements.h"

#include <QObject>
#include <QSet>

// The desktop's notifications (org.freedesktop.Notifications on the session bus): one per announcement, with the
// account's LED colour as its image and the action "打开邮件", which starts the user's mail client. Every call is
// asynchronous: no notification service, or one that does not answer, costs nothing and holds nothing up. Whether
// and how a notification shows (do-not-disturb) is the server's to decide.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    DesktopNotifications();

    void show(const Announcement& announcement);

    // An account's health notification (late, or needs the user): one per account, replaced in place while the
    // state lasts, closed when the account is watched again.
    void show_health(int account, const QString& summary, const QString& body);
    void close_health(int account);

private slots:
    void action_invoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    // Notify answers later with the id to replace or close: what was asked meanwhile waits for that answer.
    struct HealthSlot {
        uint id = 0;         // the server's id of the open notification; 0 for none
        bool asking = false; // a Notify has not been answered yet
        bool close = false;  // close it once the answer came
        bool again = false;  // then show summary and body (the newest asked for)
        QString summary;
        QString body;
    };
    void notify_health(int account);
    void answered_health(int account, uint id);

    QSet<uint> ours_; // the ids the server gave our notifications that are still open
    HealthSlot health_[3];
};

// How "打开邮件" starts the mail client: xdg-email without an address opens the desktop's mail program.
inline constexpr char kMailClientProgram[] = "xdg-email";
