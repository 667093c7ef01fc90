// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/dbus_menu.h"
#include "notifier/tray_icons.h"

#include <QByteArray>
#include <QDBusVirtualObject>
#include <QList>
#include <QPoint>
#include <QString>

class QMenu;

// The notifier's item in a StatusNotifier panel (org.kde.StatusNotifierItem at /StatusNotifierItem, its menu at
// kDBusMenuPath), the notification area of KDE Plasma, GNOME's AppIndicator extension, waybar and most panels
// today, also on Wayland. Its own rather than Qt's: Qt's item always says Active, puts the whole tip in the
// tooltip's title, and leaves ItemIsMenu false, so a host sends a left click as Activate to a program that can
// only answer by popping a menu up at a cursor position Wayland does not give it.
//
// It says ItemIsMenu: hosts show the exported menu for a left click, and Activate does nothing. Every change
// emits one signal (NewIcon, NewToolTip, NewStatus), and only when what it shows changed.
class StatusNotifierItem : public QDBusVirtualObject {
    Q_OBJECT
public:
    StatusNotifierItem(QMenu& menu, std::function<void()> refresh_menu, QObject* parent);

    // Exports the item and its menu on the session bus, takes its name and registers with the watcher; false when
    // the object paths are taken.
    bool start();
    // The watcher came (again): registers with it.
    void register_with_watcher();

    void set_icon(const TrayIconState& state);
    void set_tooltip(const QString& title, const QString& text);
    // "Passive", "Active" or "NeedsAttention".
    void set_status(const QString& status);

    DBusMenuExport& menu_export() { return *menu_; }
    const QString& service_name() const { return service_; }

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

signals:
    // A host that draws no menu of its own asked for ours (ContextMenu), at a position on the screen.
    void context_menu_requested(QPoint at);

private:
    QVariant value_of(const QString& name) const;
    void emit_signal(const char* name, const QVariantList& args = {});

    DBusMenuExport* menu_;
    QString service_;
    bool started_ = false;
    TrayIconState icon_state_;
    bool icon_set_ = false;
    QVariant pixmaps_; // IconPixmap as sent
    QString title_;
    QString text_;
    QString status_ = QStringLiteral("Active");
};

// IconPixmap's a(iiay): each size of the icon as ARGB32 in network byte order, as the protocol wants it.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
QList<SniPixmap> sni_pixmaps(const TrayIconState& state);
Q_DECLARE_METATYPE(SniPixmap)
