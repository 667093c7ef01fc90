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
}
