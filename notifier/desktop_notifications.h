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

private slots:
    void action_invoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    QSet<uint> ours_; // the ids the server gave our notifications that are still open
};

// How "打开邮件" starts the mail client: xdg-email without an address opens the desktop's mail program.
inline constexpr char kMailClientProgram[] = "xdg-email";
