// SPDX-License-Identifier: GPL-3.0-or-later
#include "notifier/tray_area.h"

#include "logging/log.h"
#include "notifier/bus_probe.h"
#include "notifier/status_notifier_item.h"
#include "notifier/tray_text.h"
#include "platform/timing.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");

bool on_x11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

} // namespace

TrayArea::TrayArea(QMenu& menu, std::function<void()> refresh_menu, QObject* parent)
    : QObject(parent), menu_(menu), refresh_menu_(std::move(refresh_menu)) {
    connect(&look_timer_, &QTimer::timeout, this, [this] { look(); });
}

void TrayArea::start() {
    bus_ = session_bus_usable() && QDBusConnection::sessionBus().isConnected();
    if (bus_) {
        QDBusConnection bus = QDBusConnection::sessionBus();
        // A panel that starts or restarts: its watcher takes the name, then its host registers with it.
        auto* watcher = new QDBusServiceWatcher(kWatcher, bus, QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { ask_for_host(); });
        bus.connect(kWatcher, kWatcherPath, kWatcher, QStringLiteral("StatusNotifierHostRegistered"), this,
                    SLOT(host_registered()));
    }
    look();
    if (kind_ == Kind::none) {
        look_timer_.start(timing().tray_look_ms);
    }
}

void TrayArea::host_registered() {
    ask_for_host();
}

void TrayArea::look() {
    if (kind_ != Kind::none) {
        look_timer_.stop();
        return;
    }
    if (bus_) {
        ask_for_host(); // its answer tries the XEmbed tray when there is no host
    } else {
        try_xembed();
    }
}

void TrayArea::ask_for_host() {
    if (asking_) {
        return;
    }
    asking_ = true;
    QDBusMessage get = QDBusMessage::createMethodCall(kWatcher, kWatcherPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kWatcher << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* call = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        asking_ = false;
        QDBusPendingReply<QDBusVariant> reply = *w;
        const bool host = reply.isValid() && reply.value().variant().toBool();
        if (host && kind_ == Kind::status_notifier) {
            item_->register_with_watcher(); // a panel that came back
        } else if (host) {
            use_status_notifier();
        } else {
            try_xembed();
        }
    });
}

// Only while no StatusNotifier host is registered: Qt's first tray call settles its own kind for the process.
void TrayArea::try_xembed() {
    if (kind_ == Kind::none && on_x11() && QSystemTrayIcon::isSystemTrayAvailable()) {
        use_xembed();
    }
}

void TrayArea::use_status_notifier() {
    if (item_ == nullptr) {
        item_ = new StatusNotifierItem(menu_, refresh_menu_, this);
        connect(item_, &StatusNotifierItem::context_menu_requested, this, [this](QPoint at) {
            // Only X11 has a position to give; a Wayland host shows the exported menu itself.
            if (on_x11()) {
                refresh_menu_();
                menu_.popup(at);
            }
        });
    }
    kind_ = Kind::status_notifier;
    apply(); // before the item is on the bus: the host reads it whole at registration, without signals
    if (!item_->start()) {
        kind_ = Kind::none;
        write_error_log("tray ---> The StatusNotifier item cannot be put on the session bus");
        return;
    }
    if (xembed_ != nullptr) {
        xembed_->hide(); // one icon only: the StatusNotifier host's
        xembed_->deleteLater();
        xembed_ = nullptr;
    }
    look_timer_.stop();
}

void TrayArea::use_xembed() {
    xembed_ = new QSystemTrayIcon(tray_icon(icon_), this);
    xembed_->setToolTip(tip_);
    xembed_->setContextMenu(&menu_);
    // A left click opens the same menu: acknowledging by a click alone would put the lamp out by accident.
    connect(xembed_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) {
            refresh_menu_();
            menu_.popup(QCursor::pos());
        }
    });
    xembed_->show();
    kind_ = Kind::xembed;
    look_timer_.stop();
}

void TrayArea::show(const TrayIconState& icon, const QString& tip, const QString& status) {
    const bool icon_changed = !icon_shown_ || !(icon == icon_);
    const bool tip_changed = tip != tip_;
    icon_ = icon;
    icon_shown_ = true;
    tip_ = tip;
    status_ = status;
    if (xembed_ != nullptr) {
        if (icon_changed) {
            xembed_->setIcon(tray_icon(icon_));
        }
        if (tip_changed) {
            xembed_->setToolTip(tip_);
        }
    }
    apply();
}

void TrayArea::apply() {
    if (item_ == nullptr || kind_ != Kind::status_notifier) {
        return;
    }
    const TipParts parts = tip_parts(tip_.toStdString());
    item_->set_icon(icon_);
    item_->set_tooltip(QString::fromStdString(parts.title), QString::fromStdString(parts.text));
    item_->set_status(status_);
}

void TrayArea::menu_changed() {
    if (item_ != nullptr) {
        item_->menu_export().changed();
    }
}

void TrayArea::hide() {
    look_timer_.stop();
    if (xembed_ != nullptr) {
        xembed_->hide();
    }
}
