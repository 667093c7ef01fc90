# SPDX-License-Identifier: GPL-3.0-or-later
# A StatusNotifier panel of the tests' own on the session bus: the watcher (org.kde.StatusNotifierWatcher) with a
# host registered in it, as a desktop's panel has once it runs. It writes to a log every item that registers and
# every signal an item or its menu sends, one line each:
#
#     status_notifier_host.py LOG [fetch]
#
# With fetch it also reads the item again at each of its New* signals, as KDE's and GNOME's panels do (GetAll of
# its properties), and logs "fetch from=:1.7 bytes=N" with N the bytes of the icon pixmaps it got.
#
#     "ready as :1.4", "RegisterStatusNotifierItem org.kde.StatusNotifierItem-12-1 from=:1.7",
#     "signal org.kde.StatusNotifierItem.NewIcon from=:1.7", "signal com.canonical.dbusmenu.LayoutUpdated from=:1.7
#     args=[5, 0]"

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = 'org.kde.StatusNotifierWatcher'
PATH = '/StatusNotifierWatcher'
PROPERTIES = 'org.freedesktop.DBus.Properties'


class Watcher(dbus.service.Object):
    def __init__(self, bus, log):
        super().__init__(bus, PATH)
        self.log = open(log, 'a', buffering=1, encoding='utf-8')
        self.items = []

    def write(self, line):
        self.log.write(line + '\n')

    @dbus.service.method(NAME, in_signature='s', out_signature='', sender_keyword='sender')
    def RegisterStatusNotifierItem(self, service, sender=None):
        self.write(f'RegisterStatusNotifierItem {service} from={sender}')
        if service not in self.items:
            self.items.append(str(service))
        self.StatusNotifierItemRegistered(service)

    @dbus.service.method(NAME, in_signature='s', out_signature='')
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(NAME, signature='s')
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(NAME, signature='')
    def StatusNotifierHostRegistered(self):
        pass

    def properties(self):
        return {'RegisteredStatusNotifierItems': dbus.Array(self.items, signature='s'),
                'IsStatusNotifierHostRegistered': dbus.Boolean(True),
                'ProtocolVersion': dbus.Int32(0)}

    # Its properties in the introspection data, as a real watcher's: Qt's own tray reads them only when declared.
    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature='', out_signature='s', path_keyword='object_path',
                         connection_keyword='connection')
    def Introspect(self, object_path, connection):
        xml = super().Introspect(object_path, connection)
        declared = ('<property name="RegisteredStatusNotifierItems" type="as" access="read"/>'
                    '<property name="IsStatusNotifierHostRegistered" type="b" access="read"/>'
                    '<property name="ProtocolVersion" type="i" access="read"/>')
        return xml.replace(f'<interface name="{NAME}">', f'<interface name="{NAME}">{declared}', 1)

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        return self.properties()[str(name)]

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return dbus.Dictionary(self.properties(), signature='sv')


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus, sys.argv[1])

    def seen(*args, **keywords):
        keywords.pop('path', None)
        shown = ', '.join(str(a) for a in args)
        watcher.write(f'signal {keywords["interface"]}.{keywords["member"]} from={keywords["sender"]} args=[{shown}]')

    fetch = len(sys.argv) > 2 and sys.argv[2] == 'fetch'

    def fetched(sender, properties):
        size = sum(len(p[2]) for key in ('IconPixmap', 'OverlayIconPixmap', 'AttentionIconPixmap')
                   for p in properties.get(key, []))
        watcher.write(f'fetch from={sender} bytes={size}')

    def changed(*args, **keywords):
        seen(*args, **keywords)
        if fetch and keywords['interface'] == 'org.kde.StatusNotifierItem' and keywords['member'].startswith('New'):
            sender = keywords['sender']
            item = bus.get_object(sender, keywords['path'], introspect=False)
            item.GetAll('org.kde.StatusNotifierItem', dbus_interface=PROPERTIES,
                        reply_handler=lambda properties: fetched(sender, properties),
                        error_handler=lambda error: watcher.write(f'fetch from={sender} failed'))

    for interface in ('org.kde.StatusNotifierItem', 'com.canonical.dbusmenu'):
        bus.add_signal_receiver(changed, dbus_interface=interface, interface_keyword='interface',
                                member_keyword='member', sender_keyword='sender', path_keyword='path')
    name = dbus.service.BusName(NAME, bus)
    watcher.StatusNotifierHostRegistered()
    watcher.write(f'ready as {bus.get_unique_name()}')
    GLib.MainLoop().run()
    del name


main()
