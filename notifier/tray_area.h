// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "notifier/tray_icons.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QMenu;
class QSystemTrayIcon;
class StatusNotifierItem;

// Where the notifier's icon lives: a StatusNotifier panel where a host runs (any platform, Wayland too), else on
// X11 the older tray (XEmbed, the _NET_SYSTEM_TRAY_S0 selection's owner) through Qt, else nowhere yet. Started at
// login before the panel, it keeps looking: a StatusNotifier host that registers later, or a panel that restarts,
// gets the icon, and an XEmbed icon moves to a StatusNotifier host that comes after it.
//
// Qt settles once per process, at its first tray call, whether its tray is a StatusNotifier item; that call is
// made only for the XEmbed tray and only while no host is registered, so that the decision is never against a host
// that is not there yet: the StatusNotifier item is the notifier's own (status_notifier_item.h).
class TrayArea : public QObject {
    Q_OBJECT
public:
    enum class Kind { none, status_notifier, xembed };

    // refresh_menu brings the menu's entries up to date; it is called before a host or a click shows the menu.
    TrayArea(QMenu& menu, std::function<void()> refresh_menu, QObject* parent);

    // Begins looking for a notification area (the session bus has been checked, bus_probe.h).
    void start();

    // What the icon shows: its picture, the tip (the first line is the title), the StatusNotifier status. Each
    // change goes out once, and only a change.
    void show(const TrayIconState& icon, const QString& tip, const QString& status);
    // The menu's entries changed.
    void menu_changed();
    // The end: the icon goes from the panel.
    void hide();

    Kind kind() const { return kind_; }

private slots:
    void host_registered();

private:
    void look();
    void ask_for_host();
    void try_xembed();
    void use_status_notifier();
    void use_xembed();
    void apply();

    QMenu& menu_;
    std::function<void()> refresh_menu_;
    Kind kind_ = Kind::none;
    StatusNotifierItem* item_ = nullptr;
    QSystemTrayIcon* xembed_ = nullptr;
    QTimer look_timer_;
    bool asking_ = false;
    bool bus_ = false;

    TrayIconState icon_;
    bool icon_shown_ = false;
    QString tip_;
    QString status_ = QStringLiteral("Active");
};
