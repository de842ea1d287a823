#!/usr/bin/python3
"""Keys typed into a headless GNOME compositor (mutter), for the Wayland end-to-end test.

Opens a remote-desktop session of mutter (org.gnome.Mutter.RemoteDesktop on the
session bus), whose virtual keyboard types into the focused window as a real
one would, and reads one chord a line from standard input ("Alt+F4",
"Control+q", "Shift"): its keys are pressed in order and released in reverse.
Prints "ready" once the session runs and "typed CHORD" after each chord.
"""
import sys

import dbus

KEYSYMS = {"Alt": 0xFFE9, "Control": 0xFFE3, "Shift": 0xFFE1, "F4": 0xFFC1, "q": 0x71}
SERVICE = "org.gnome.Mutter.RemoteDesktop"


def main():
    bus = dbus.SessionBus()
    desktop = dbus.Interface(bus.get_object(SERVICE, "/org/gnome/Mutter/RemoteDesktop"), SERVICE)
    session = dbus.Interface(bus.get_object(SERVICE, desktop.CreateSession()), SERVICE + ".Session")
    session.Start()
    print("ready", flush=True)
    for line in sys.stdin:
        chord = line.strip()
        if not chord:
            continue
        keys = [dbus.UInt32(KEYSYMS[k]) for k in chord.split("+")]
        for key in keys:
            session.NotifyKeyboardKeysym(key, True)
        for key in reversed(keys):
            session.NotifyKeyboardKeysym(key, False)
        print("typed", chord, flush=True)
    session.Stop()


if __name__ == "__main__":
    main()
