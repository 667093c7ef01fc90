# SPDX-License-Identifier: GPL-3.0-or-later
'''python3-dbusmock template: a desktop panel's StatusNotifier watcher with a host registered, on a test's private
session bus, as a GNOME AppIndicator extension or a KDE panel offers it. An application then shows its tray icon as
a StatusNotifierItem of its own on the bus; the call that registers it names the item, whose properties (the tip
among them) the test reads.'''

import dbus

BUS_NAME = 'org.kde.StatusNotifierWatcher'
MAIN_OBJ = '/StatusNotifierWatcher'
MAIN_IFACE = 'org.kde.StatusNotifierWatcher'
SYSTEM_BUS = False


def load(mock, parameters):
    mock.AddProperties(MAIN_IFACE, dbus.Dictionary({
        'IsStatusNotifierHostRegistered': True,
        'ProtocolVersion': dbus.Int32(0),
        'RegisteredStatusNotifierItems': dbus.Array([], signature='s'),
    }, signature='sv'))
    mock.AddMethods(MAIN_IFACE, [
        ('RegisterStatusNotifierItem', 's', '', ''),
        ('RegisterStatusNotifierHost', 's', '', ''),
    ])
