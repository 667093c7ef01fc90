// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/announcements.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <array>
#include <functional>

class QDBusMessage;

// The desktop's notifications (org.freedesktop.Notifications on the session bus). Each of ours has a slot, keyed by
// what it stands for and the account: one for the account's new mail, one for its health. A slot holds at most one
// notification: a later one replaces it in place (replaces_id), and withdrawing it closes it (CloseNotification).
// The server's capabilities are asked once per server (markup only with body-markup, buttons only with actions);
// its Inhibited property, where it has one, silences the lamp's sounds (lamp/quiet.h). Every call is
// asynchronous: no notification service, or one that does not answer, costs nothing and holds nothing up.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    enum class Subject { mail, health };

    // What a notification says, made when it goes out, for the server then known.
    struct Notice {
        QString summary;
        QString body;
        QStringList actions; // key, label, key, label...; sent only to a server that offers actions
        QVariantMap hints;
    };
    struct Server {
        bool markup = false;  // body-markup
        bool actions = false; // actions
        bool sound = false;   // sound: it plays sound-name
    };
    using Make = std::function<Notice(const Server&)>;

    DesktopNotifications();

    // Connects to the session bus, when the start found it usable (bus_probe.h).
    void start();

    // The account's new mail: its notification comes, or the one it has is replaced.
    void show_mail(const Announcement& announcement);
    // Its mail was read, acknowledged or taken away, or monitoring stopped: its notification goes. -1: every
    // account's.
    void close_mail(int account);

    // The slots themselves, for every subject: put makes or replaces the slot's notification, withdraw closes it.
    void put(Subject subject, int account, Make make);
    void withdraw(Subject subject, int account);

    // The id the server gave the slot's notification, 0 for none (tests).
    uint notification_id(Subject subject, int account) const;

    // An account's health notification (late, or needs the user): one per account, replaced in place while the
    // state lasts, closed when the account is watched again. The body is plain text.
    void show_health(int account, const QString& summary, const QString& body);
    void close_health(int account);

signals:
    // 已读 in an account's mail notification.
    void acknowledge_requested(int account);

private slots:
    void action_invoked(uint id, const QString& action, const QDBusMessage& message);
    void closed(uint id, uint reason, const QDBusMessage& message);
    void properties_changed(const QString& interface, const QVariantMap& changed, const QStringList& invalidated,
                            const QDBusMessage& message);

private:
    struct Slot {
        uint id = 0;
        QString server;      // the unique bus name of the server that gave the id
        Make make;           // what it is to say; empty once withdrawn
        bool sending = false; // a Notify is on its way; what comes meanwhile waits for its id
        bool again = false;   // a later notice waits for the answer
    };
    static constexpr int kSlots = 6;
    static int slot_of(Subject subject, int account);

    void ask_server();
    void server_gone();
    void send(int slot);
    void close_now(Slot& slot);
    void open_mail_client(int account);
    void mail_client_failed(int account, const QString& why);
    int slot_with(uint id, const QString& sender) const;

    bool connected_ = false;
    bool asking_ = false;
    bool known_ = false; // the server's capabilities are known
    QString server_;     // the unique name that answered GetCapabilities
    Server caps_;
    std::array<Slot, kSlots> slots_;
    bool told_no_client_ = false;
};

// How 打开邮件 starts the mail client: xdg-email without an address opens the desktop's mail program.
inline constexpr char kMailClientProgram[] = "xdg-email";
