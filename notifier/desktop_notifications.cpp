// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/desktop_notifications.h"

#include "logging/log.h"
#include "notifier/tray_icons.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kOpenAction = QStringLiteral("open");

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

} // namespace

DesktopNotifications::DesktopNotifications() {
    qDBusRegisterMetaType<NotificationImage>();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.connect(QString(), kPath, kService, QStringLiteral("ActionInvoked"), this,
                    SLOT(action_invoked(uint, QString)));
        bus.connect(QString(), kPath, kService, QStringLiteral("NotificationClosed"), this,
                    SLOT(closed(uint, uint)));
    }
}

void DesktopNotifications::show(const Announcement& announcement) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // no session bus: the lamp and the buzzer say it all
    }
    NotificationText text = notification_text(announcement);
    QVariantMap hints;
    hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image_of(announcement.account)));
    hints.insert(QStringLiteral("category"), QStringLiteral("email.arrived"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kd5lite"));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("kd5lite") << 0u << QString() << QString::fromStdString(text.summary)
         << QString::fromStdString(text.body) << QStringList{kOpenAction, QStringLiteral("打开邮件")} << hints
         << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        if (reply.isValid()) {
            ours_.insert(reply.value());
        }
        // No service is no fault: a desktop without notifications still has the lamp.
        w->deleteLater();
    });
}

void DesktopNotifications::show_health(int account, const QString& summary, const QString& body) {
    if (account < 0 || account >= 3) {
        return;
    }
    HealthSlot& slot = health_[account];
    slot.summary = summary;
    slot.body = body;
    slot.close = false;
    slot.again = slot.asking;
    if (!slot.asking) {
        notify_health(account);
    }
}

void DesktopNotifications::close_health(int account) {
    if (account < 0 || account >= 3) {
        return;
    }
    HealthSlot& slot = health_[account];
    slot.again = false;
    if (slot.asking) {
        slot.close = true;
        return;
    }
    if (slot.id != 0) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("CloseNotification"));
        call << slot.id;
        QDBusConnection::sessionBus().asyncCall(call);
        slot.id = 0;
    }
}

void DesktopNotifications::notify_health(int account) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // no session bus: the lamp and the tray say it
    }
    HealthSlot& slot = health_[account];
    QVariantMap hints;
    hints.insert(QStringLiteral("image-data"), QVariant::fromValue(image_of(account)));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kd5lite"));
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("Notify"));
    call << QStringLiteral("kd5lite") << slot.id << QString() << slot.summary << slot.body << QStringList{} << hints
         << -1;
    slot.asking = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, account](QDBusPendingCallWatcher* w) {
        QDBusPendingReply<uint> reply = *w;
        answered_health(account, reply.isValid() ? reply.value() : 0);
        w->deleteLater();
    });
}

void DesktopNotifications::answered_health(int account, uint id) {
    HealthSlot& slot = health_[account];
    slot.asking = false;
    slot.id = id;
    if (slot.close) {
        slot.close = false;
        close_health(account);
    } else if (slot.again) {
        slot.again = false;
        notify_health(account);
    }
}

void DesktopNotifications::action_invoked(uint id, const QString& action) {
    if (!ours_.contains(id) || (action != kOpenAction && action != QLatin1String("default"))) {
        return;
    }
    if (!QProcess::startDetached(QString::fromLatin1(kMailClientProgram), {})) {
        write_error_logf("notification ---> The mail client cannot be started[%s]", kMailClientProgram);
    }
}

void DesktopNotifications::closed(uint id, uint) {
    ours_.remove(id);
    for (HealthSlot& slot : health_) {
        if (slot.id == id) {
            slot.id = 0; // dismissed: a later change of health shows a new one
        }
    }
}
