# SPDX-License-Identifier: GPL-3.0-or-later
# A notification server of the tests' own on the session bus (org.freedesktop.Notifications): it answers as a
# desktop's does, with the capabilities it is given, writes every call it gets to a log, one line each, and does
# what a user would through a control interface of its own (a click on an action, a dismissal, do not disturb).
#
#     notification_server.py LOG "CAPABILITY ..." [inhibited=0|inhibited=1]
#
# Without the third argument the server has no Inhibited property, as most servers.
#
# Log lines: "GetCapabilities from=:1.5", "Notify from=:1.5 replaces=0 summary=... body=... actions=[...]
# hints={...} -> 1" (line breaks of the body as \n), "CloseNotification from=:1.5 id=1".

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = 'org.freedesktop.Notifications'
PATH = '/org/freedesktop/Notifications'
CONTROL = 'org.kd5lite.test.Notifications'
PROPERTIES = 'org.freedesktop.DBus.Properties'


def text(value):
    return str(value).replace('\\', '\\\\').replace('\n', '\\n')


def hint(name, value):
    if name == 'image-data':
        width, height, rowstride, alpha, bits, channels, data = value
        return f'{name}={int(width)}x{int(height)}+{int(rowstride)}+{int(bits)}x{int(channels)}+{len(data)}'
    if isinstance(value, dbus.Boolean):
        return f'{name}={int(value)}'
    if isinstance(value, dbus.Byte):
        return f'{name}={int(value)}'
    return f'{name}={text(value)}'


class Server(dbus.service.Object):
    def __init__(self, bus, log, caps, inhibited):
        super().__init__(bus, PATH)
        self.log = open(log, 'a', buffering=1, encoding='utf-8')
        self.caps = caps
        self.inhibited = inhibited
        self.next_id = 1

    def write(self, line):
        self.log.write(line + '\n')

    @dbus.service.method(NAME, in_signature='', out_signature='as', sender_keyword='sender')
    def GetCapabilities(self, sender=None):
        self.write(f'GetCapabilities from={sender}')
        return dbus.Array(self.caps, signature='s')

    @dbus.service.method(NAME, in_signature='', out_signature='ssss')
    def GetServerInformation(self):
        return ('kd5lite-test', 'kd5lite', '1', '1.2')

    @dbus.service.method(NAME, in_signature='susssasa{sv}i', out_signature='u', sender_keyword='sender')
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout, sender=None):
        if replaces:
            nid = int(replaces)
        else:
            nid = self.next_id
            self.next_id += 1
        shown = ','.join(hint(k, hints[k]) for k in sorted(hints))
        self.write(f'Notify from={sender} app={app} replaces={int(replaces)} summary={text(summary)} '
                   f'body={text(body)} actions=[{",".join(str(a) for a in actions)}] hints={{{shown}}} -> {nid}')
        return dbus.UInt32(nid)

    @dbus.service.method(NAME, in_signature='u', out_signature='', sender_keyword='sender')
    def CloseNotification(self, nid, sender=None):
        self.write(f'CloseNotification from={sender} id={int(nid)}')
        self.NotificationClosed(nid, 3)

    @dbus.service.signal(NAME, signature='uu')
    def NotificationClosed(self, nid, reason):
        pass

    @dbus.service.signal(NAME, signature='us')
    def ActionInvoked(self, nid, key):
        pass

    @dbus.service.method(PROPERTIES, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        if self.inhibited is None or interface != NAME or name != 'Inhibited':
            raise dbus.exceptions.DBusException('no such property',
                                                name='org.freedesktop.DBus.Error.UnknownProperty')
        return dbus.Boolean(self.inhibited)

    @dbus.service.method(PROPERTIES, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        if self.inhibited is None or interface != NAME:
            return dbus.Dictionary({}, signature='sv')
        return dbus.Dictionary({'Inhibited': dbus.Boolean(self.inhibited)}, signature='sv')

    @dbus.service.signal(PROPERTIES, signature='sa{sv}as')
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    # What a user does.
    @dbus.service.method(CONTROL, in_signature='us', out_signature='')
    def InvokeAction(self, nid, key):
        self.ActionInvoked(nid, key)

    @dbus.service.method(CONTROL, in_signature='u', out_signature='')
    def Dismiss(self, nid):
        self.NotificationClosed(nid, 2)

    @dbus.service.method(CONTROL, in_signature='b', out_signature='')
    def SetInhibited(self, inhibited):
        self.inhibited = bool(inhibited)
        self.PropertiesChanged(NAME, dbus.Dictionary({'Inhibited': dbus.Boolean(self.inhibited)}, signature='sv'),
                               dbus.Array([], signature='s'))


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    inhibited = None
    if len(sys.argv) > 3 and sys.argv[3].startswith('inhibited='):
        inhibited = sys.argv[3] == 'inhibited=1'
    server = Server(bus, sys.argv[1], sys.argv[2].split(), inhibited)
    name = dbus.service.BusName(NAME, bus)
    server.write(f'ready as {bus.get_unique_name()}')
    GLib.MainLoop().run()
    del name


main()
