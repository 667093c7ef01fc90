// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/desktop_notifications.h"

#include "lamp/quiet.h"
#include "logging/log.h"
#include "notifier/bus_probe.h"
#include "notifier/tray_icons.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QProcess>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kOpenAction = QStringLiteral("open");
const QString kDefaultAction = QStringLiteral("default");
const QString kAckAction = QStringLiteral("acknowledge");

// The image-data hint of org.freedesktop.Notifications: (iiibiiay), RGBA bytes.
struct NotificationImage {
    int width = 0;
    int height = 0;
    int rowstride = 0;
    bool has_alpha = true;
    int bits_per_sample = 8;
    int channels = 4;
    QByteArray data;
};

} // namespace

Q_DECLARE_METATYPE(NotificationImage)

namespace {

QDBusArgument& operator<<(QDBusArgument& a, const NotificationImage& i) {
    a.beginStructure();
    a << i.width << i.height << i.rowstride << i.has_alpha << i.bits_per_sample << i.channels << i.data;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, NotificationImage& i) {
    a.beginStructure();
    a >> i.width >> i.height >> i.rowstride >> i.has_alpha >> i.bits_per_sample >> i.channels >> i.data;
    a.endStructure();
    return a;
}

NotificationImage image_of(int account) {
    QImage image = lamp_image(account, 48).convertToFormat(QImage::Format_RGBA8888);
    NotificationImage i;
    i.width = image.width();
    i.height = image.height();
    i.rowstride = static_cast<int>(image.bytesPerLine());
    i.data = QByteArray(reinterpret_cast<const char*>(image.constBits()), static_cast<int>(image.sizeInBytes()));
    return i;
}

// The mail notification of an announcement, for the server it goes to.
DesktopNotifications::Notice mail_notice(const Announcement& a, const DesktopNotifications::Server& server) {
    NotificationText text = notification_text(a, server.markup);
    DesktopNotifications::Notice n;
    n.summary = QString::fromStdString(text.summary);
    n.body = QString::fromStdString(text.body);
    n.actions = {kDefaultAction, QStringLiteral("打开邮件"), kOpenAction, QStringLiteral("打开邮件"), kAckAction,
                 QStringLiteral("已读")};
    n.hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image_of(a.account)));
    n.hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    n.hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kd5lite"));
    n.hints.insert(QStringLiteral("urgency"), QVariant::fromValue(static_cast<uchar>(a.quiet ? 0 : 1)));
    if (a.sound_by_notification && server.sound) {
        n.hints.insert(QStringLiteral("sound-name"), QString::fromLatin1(kNewMailSound));
    } else {
        // The buzzer or the wave announces, or the lamp played the theme's sound itself, or it is quiet.
        n.hints.insert(QStringLiteral("suppress-sound"), true);
    }
    return n;
}

// The programs the notifier starts get the session bus the desktop gave it.
QProcessEnvironment child_environment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!session_bus_usable()) {
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(session_bus_address_at_start()));
    }
    return env;
}

} // namespace

DesktopNotifications::DesktopNotifications() {
    qDBusRegisterMetaType<NotificationImage>();
}

int DesktopNotifications::slot_of(Subject subject, int account) {
    return (subject == Subject::mail ? 0 : 3) + std::clamp(account, 0, 2);
}

void DesktopNotifications::start() {
    if (connected_ || !session_bus_usable()) {
        return;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // no session bus: the lamp and the buzzer say it all
    }
    connected_ = true;
    // Every signal is checked against the server that gave our ids: any client of the bus can send one.
    bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this,
                SLOT(action_invoked(uint, QString, QDBusMessage)));
    bus.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), this,
                SLOT(closed(uint, uint, QDBusMessage)));
    bus.connect(QString(), kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("PropertiesChanged"), this,
                SLOT(properties_changed(QString, QVariantMap, QStringList, QDBusMessage)));
    auto* watcher = new QDBusServiceWatcher(kService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this, [this] { server_gone(); });
}

// Another server, or none: its notifications went with it, and the next one asks the new server what it offers.
void DesktopNotifications::server_gone() {
    known_ = false;
    server_.clear();
    caps_ = Server{};
    set_notification_sounds(false);
    quiet_set_inhibited(false);
    for (Slot& s : slots_) {
        s.id = 0;
        s.server.clear();
    }
}

void DesktopNotifications::ask_server() {
    if (asking_ || !connected_) {
        return;
    }
    asking_ = true;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        QDBusPendingReply<QStringList> reply = *w;
        if (!reply.isValid()) {
            // No service is no fault: a desktop without notifications still has the lamp.
            for (Slot& s : slots_) {
                s.make = {};
            }
            return;
        }
        const QStringList caps = reply.value();
        known_ = true;
        server_ = reply.reply().service();
        caps_ = {caps.contains(QStringLiteral("body-markup")), caps.contains(QStringLiteral("actions")),
                 caps.contains(QStringLiteral("sound"))};
        set_notification_sounds(caps_.sound);
        // Do not disturb, where the server says so (Plasma's Inhibited; not in every server).
        QDBusMessage get = QDBusMessage::createMethodCall(kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
        get << kService << QStringLiteral("Inhibited");
        auto* inhibited = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
        connect(inhibited, &QDBusPendingCallWatcher::finished, this, [](QDBusPendingCallWatcher* i) {
            i->deleteLater();
            QDBusPendingReply<QDBusVariant> answer = *i;
            quiet_set_inhibited(answer.isValid() && answer.value().variant().toBool());
        });
        for (int k = 0; k < kSlots; ++k) {
            if (slots_[static_cast<std::size_t>(k)].make && !slots_[static_cast<std::size_t>(k)].sending) {
                send(k);
            }
        }
    });
}

void DesktopNotifications::put(Subject subject, int account, Make make) {
    const int k = slot_of(subject, account);
    Slot& s = slots_[static_cast<std::size_t>(k)];
    s.make = std::move(make);
    if (!connected_) {
        return;
    }
    if (!known_) {
        ask_server();
        return;
    }
    if (s.sending) {
        s.again = true; // replaces the one on its way once its id is known
        return;
    }
    send(k);
}

void DesktopNotifications::send(int k) {
    Slot& s = slots_[static_cast<std::size_t>(k)];
    const Notice n = s.make(caps_);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("kd5lite") << s.id << QString() << n.summary << n.body
         << (caps_.actions ? n.actions : QStringList()) << n.hints << -1;
    s.sending = true;
    s.again = false;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, k](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        Slot& slot = slots_[static_cast<std::size_t>(k)];
        slot.sending = false;
        QDBusPendingReply<uint> reply = *w;
        if (reply.isValid()) {
            slot.id = reply.value();
            slot.server = reply.reply().service();
            if (slot.server != server_) {
                // Another server took the name before its news reached us: ask it, and say it again its way.
                server_gone();
                slot.id = reply.value();
                slot.server = reply.reply().service();
                ask_server();
                return;
            }
        }
        if (!slot.make) {
            close_now(slot); // withdrawn while it was on its way
        } else if (slot.again) {
            send(k);
        }
    });
}

void DesktopNotifications::close_now(Slot& s) {
    if (s.id == 0) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("CloseNotification"));
    call << s.id;
    QDBusConnection::sessionBus().asyncCall(call);
    s.id = 0;
    s.server.clear();
}

void DesktopNotifications::withdraw(Subject subject, int account) {
    Slot& s = slots_[static_cast<std::size_t>(slot_of(subject, account))];
    s.make = {};
    s.again = false;
    if (!s.sending) {
        close_now(s);
    }
}

void DesktopNotifications::show_mail(const Announcement& announcement) {
    put(Subject::mail, announcement.account,
        [announcement](const Server& server) { return mail_notice(announcement, server); });
}

void DesktopNotifications::close_mail(int account) {
    for (int i = 0; i < 3; ++i) {
        if (account == -1 || account == i) {
            withdraw(Subject::mail, i);
        }
    }
}

uint DesktopNotifications::notification_id(Subject subject, int account) const {
    return slots_[static_cast<std::size_t>(slot_of(subject, account))].id;
}

int DesktopNotifications::slot_with(uint id, const QString& sender) const {
    for (int k = 0; k < kSlots; ++k) {
        const Slot& s = slots_[static_cast<std::size_t>(k)];
        if (id != 0 && s.id == id && s.server == sender) {
            return k;
        }
    }
    return -1;
}

void DesktopNotifications::action_invoked(uint id, const QString& action, const QDBusMessage& message) {
    const int k = slot_with(id, message.service());
    if (k < 0 || k >= 3) {
        return; // not ours, or not from the server that showed it
    }
    if (action == kOpenAction || action == kDefaultAction) {
        open_mail_client(k);
    } else if (action == kAckAction) {
        emit acknowledge_requested(k);
    }
}

void DesktopNotifications::closed(uint id, uint, const QDBusMessage& message) {
    const int k = slot_with(id, message.service());
    if (k < 0) {
        return;
    }
    Slot& s = slots_[static_cast<std::size_t>(k)];
    s.id = 0;
    s.server.clear();
    if (k < 3) {
        forget_standing_notification(k); // dismissed: the next new mail has a notification of its own
    }
}

void DesktopNotifications::properties_changed(const QString& interface, const QVariantMap& changed,
                                              const QStringList&, const QDBusMessage& message) {
    if (interface == kService && message.service() == server_ && changed.contains(QStringLiteral("Inhibited"))) {
        quiet_set_inhibited(changed.value(QStringLiteral("Inhibited")).toBool());
    }
}

void DesktopNotifications::open_mail_client(int account) {
    auto* client = new QProcess(this);
    client->setProgram(QString::fromLatin1(kMailClientProgram));
    client->setProcessEnvironment(child_environment());
    client->setStandardOutputFile(QProcess::nullDevice());
    client->setStandardErrorFile(QProcess::nullDevice());
    connect(client, &QProcess::errorOccurred, this, [this, client, account](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            mail_client_failed(account, QStringLiteral("没有找到 %1（xdg-utils）").arg(QLatin1String(kMailClientProgram)));
            client->deleteLater();
        }
    });
    connect(client, &QProcess::finished, this, [this, client, account](int code, QProcess::ExitStatus status) {
        // xdg-email: 3 a tool it needs is missing, 4 the action failed (no mail program set).
        if (status != QProcess::NormalExit || code != 0) {
            mail_client_failed(account, QStringLiteral("%1 没能打开邮件程序（退出码 %2）")
                                            .arg(QLatin1String(kMailClientProgram))
                                            .arg(code));
        }
        client->deleteLater();
    });
    client->start();
}

// Said once, in the account's notification, rather than a click that silently does nothing; the error log has
// every time.
void DesktopNotifications::mail_client_failed(int account, const QString& why) {
    write_error_logf("notification ---> The mail client cannot be started[%s]", kMailClientProgram);
    if (told_no_client_) {
        return;
    }
    told_no_client_ = true;
    put(Subject::mail, account, [why](const Server& server) {
        Notice n;
        n.summary = QStringLiteral("无法打开邮件程序");
        const QString text = why + QStringLiteral("。请安装邮件程序，并在桌面的设置里把它设为默认的邮件程序。");
        n.body = server.markup ? text.toHtmlEscaped() : text;
        n.hints.insert(QStringLiteral("category"), QStringLiteral("email"));
        n.hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kd5lite"));
        n.hints.insert(QStringLiteral("suppress-sound"), true);
        return n;
    });
}

// An account's health notification: our own words, no actions, and the lamp of the account; escaped only for a
// server that reads markup, as the mail's.
void DesktopNotifications::show_health(int account, const QString& summary, const QString& body) {
    if (account < 0 || account >= 3) {
        return;
    }
    put(Subject::health, account, [account, summary, body](const Server& server) {
        Notice n;
        n.summary = summary;
        n.body = server.markup ? QString::fromStdString(markup_escaped(body.toStdString())) : body;
        n.hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image_of(account)));
        n.hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kd5lite"));
        return n;
    });
}

void DesktopNotifications::close_health(int account) {
    if (account >= 0 && account < 3) {
        withdraw(Subject::health, account);
    }
}
