#!/usr/bin/python3
"""A desktop notification server (org.freedesktop.Notifications, version 1.2)
for the end-to-end tests.

Prints "notify ID SUMMARY|BODY|ACTIONS" for each notification it is asked to
show. A line "choose ID TOKEN" on standard input chooses notification ID as a
person clicking it would: the server sends ActivationToken with TOKEN, then
ActionInvoked with the default action, as servers of version 1.2 do. Stops
after the given number of seconds.
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.freedesktop.Notifications"


class Server(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last = 0

    @dbus.service.method(IFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        notification = int(replaces) or self.last + 1
        self.last = max(self.last, notification)
        print("notify %d %s|%s|%s" % (notification, summary, body, ",".join(actions)), flush=True)
        return notification

    @dbus.service.method(IFACE, in_signature="u", out_signature="")
    def CloseNotification(self, notification):
        self.NotificationClosed(notification, 3)

    @dbus.service.method(IFACE, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return ["actions", "body"]

    @dbus.service.method(IFACE, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("e2e", "fotoimport", "1", "1.2")

    @dbus.service.signal(IFACE, signature="us")
    def ActivationToken(self, notification, token):
        pass

    @dbus.service.signal(IFACE, signature="us")
    def ActionInvoked(self, notification, action):
        pass

    @dbus.service.signal(IFACE, signature="uu")
    def NotificationClosed(self, notification, reason):
        pass


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(IFACE, bus)
    server = Server(bus)
    loop = GLib.MainLoop()

    def command(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.split()
        if len(words) == 3 and words[0] == "choose":
            server.ActivationToken(dbus.UInt32(int(words[1])), words[2])
            server.ActionInvoked(dbus.UInt32(int(words[1])), "default")
            print("chose", words[1], flush=True)
        return True

    GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, command)
    GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 120, loop.quit)
    print("server ready", flush=True)
    loop.run()
    del name, server


if __name__ == "__main__":
    main()
