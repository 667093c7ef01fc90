# SPDX-License-Identifier: GPL-3.0-or-later
# One method call on the session bus from a client of its own, for tests without Qt:
#
#     dbus_call.py DESTINATION PATH INTERFACE.METHOD 'PYTHON ARGUMENTS'
#
# The arguments are a Python list that may use dbus types, e.g. "[dbus.Int32(0), dbus.Array([], signature='s')]".
# Prints the answer as plain Python values (repr), one line; exit status 1 with the error on a failed call.

import sys

import dbus


def plain(value):
    if isinstance(value, (dbus.Array, list)):
        return [plain(v) for v in value]
    if isinstance(value, (dbus.Struct, tuple)):
        return tuple(plain(v) for v in value)
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath, dbus.Signature)):
        return str(value)
    if isinstance(value, (dbus.ByteArray, bytes)):
        return len(value)
    if isinstance(value, (int, dbus.Byte)):
        return int(value)
    return value


def main():
    destination, path, method = sys.argv[1], sys.argv[2], sys.argv[3]
    arguments = eval(sys.argv[4], {'dbus': dbus}) if len(sys.argv) > 4 else []
    interface, member = method.rsplit('.', 1)
    proxy = dbus.SessionBus().get_object(destination, path, introspect=False)
    try:
        answer = proxy.get_dbus_method(member, interface)(*arguments, byte_arrays=True)
    except dbus.exceptions.DBusException as e:
        print(e.get_dbus_name(), e.get_dbus_message())
        sys.exit(1)
    print(repr(plain(answer)))


main()
