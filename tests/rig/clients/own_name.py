'''Asks the system bus for a well-known name, as whoever runs it.

  /usr/bin/python3 own_name.py NAME [HOLD_SECONDS]

Prints "owned" and keeps the name for HOLD_SECONDS (0) when the bus made it
the primary owner, and exits 0. Otherwise prints the D-Bus error name (a
policy denial is org.freedesktop.DBus.Error.AccessDenied) or "reply N" for
another RequestName answer, and exits 1. The policy tests run it as root
and, through setpriv, as nobody.
'''

import sys
import time

from gi.repository import Gio, GLib

DBUS_NAME_FLAG_DO_NOT_QUEUE = 4
DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER = 1


def main():
    name = sys.argv[1]
    hold = float(sys.argv[2]) if len(sys.argv) > 2 else 0.0
    bus = Gio.bus_get_sync(Gio.BusType.SYSTEM, None)
    try:
        reply = bus.call_sync('org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                              'RequestName', GLib.Variant('(su)', (name, DBUS_NAME_FLAG_DO_NOT_QUEUE)),
                              GLib.VariantType('(u)'), Gio.DBusCallFlags.NONE, 10000, None)
    except GLib.Error as error:
        print(Gio.DBusError.get_remote_error(error) or error.message, flush=True)
        return 1
    code = reply.unpack()[0]
    if code != DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER:
        print(f'reply {code}', flush=True)
        return 1
    print('owned', flush=True)
    time.sleep(hold)
    return 0


if __name__ == '__main__':
    sys.exit(main())
