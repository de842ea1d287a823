#!/usr/bin/python3
"""A minimal StatusNotifierWatcher for the end-to-end test of the D-Bus tray.

It owns org.kde.StatusNotifierWatcher on the session bus, says that a tray host
is registered (so Qt picks the D-Bus tray), and prints one line per item that
registers: "registered <service> <path>". It stops after the given number of
seconds.

As a host that shows an item's menu itself (KDE, GNOME's AppIndicator):
  sni_watcher.py menu SERVICE PATH         prints the item's exported menu
      (com.canonical.dbusmenu), one line per entry: "item ID LABEL", with
      " (disabled)" after an entry that cannot be chosen
  sni_watcher.py click SERVICE PATH LABEL  chooses the entry with that label
"""
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

IFACE = "org.kde.StatusNotifierWatcher"

# dbus-python does not list properties when introspected, and Qt reads the
# watcher's properties through its introspection data: describe them here.
INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/><arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
  <interface name="org.freedesktop.DBus.Introspectable">
    <method name="Introspect"><arg type="s" direction="out"/></method>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []

    @dbus.service.method(IFACE, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        path = "/StatusNotifierItem"
        if service.startswith("/"):
            path, service = service, sender
        self.items.append(service + path)
        print("registered", service, path, flush=True)
        self.StatusNotifierItemRegistered(service + path)

    @dbus.service.method(IFACE, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(IFACE, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(IFACE, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.method(dbus.INTROSPECTABLE_IFACE, in_signature="", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }


MENU_IFACE = "com.canonical.dbusmenu"


def exported_menu(service, path):
    """The item's menu as a host reads it: its object, and (id, label, enabled) per entry."""
    bus = dbus.SessionBus()
    item = bus.get_object(service, path)
    menu_path = item.Get("org.kde.StatusNotifierItem", "Menu", dbus_interface=dbus.PROPERTIES_IFACE)
    menu = dbus.Interface(bus.get_object(service, menu_path), MENU_IFACE)
    menu.AboutToShow(0)
    _, (_, _, children) = menu.GetLayout(0, -1, [])
    entries = []
    for child in children:
        number, props, _ = child
        if props.get("type", "standard") == "separator" or not props.get("visible", True):
            continue
        entries.append((int(number), str(props.get("label", "")), bool(props.get("enabled", True))))
    return menu, entries


def show_menu(service, path):
    _, entries = exported_menu(service, path)
    for number, label, enabled in entries:
        print("item %d %s%s" % (number, label, "" if enabled else " (disabled)"))


def click(service, path, label):
    menu, entries = exported_menu(service, path)
    for number, text, _ in entries:
        if text == label:
            menu.Event(number, "clicked", dbus.Int32(0, variant_level=1), dbus.UInt32(0))
            return 0
    print("no entry", label, file=sys.stderr)
    return 1


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "menu":
        return show_menu(sys.argv[2], sys.argv[3])
    if len(sys.argv) > 1 and sys.argv[1] == "click":
        return click(sys.argv[2], sys.argv[3], sys.argv[4])
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    name = dbus.service.BusName(IFACE, bus)
    watcher = Watcher(bus)
    print("watcher ready", flush=True)
    loop = GLib.MainLoop()
    GLib.timeout_add_seconds(int(sys.argv[1]) if len(sys.argv) > 1 else 60, loop.quit)
    loop.run()
    del name, watcher


if __name__ == "__main__":
    sys.exit(main())
