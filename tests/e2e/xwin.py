#!/usr/bin/python3
"""Two things a desktop does to a window, for the end-to-end scripts, through
libX11 itself (no Python X library needed):

    xwin.py ping WINDOW TIMEOUT_MS
        sends the window the window manager's _NET_WM_PING and waits for the
        answer a living program sends back to the root window; prints the
        milliseconds it took and exits 0, or exits 1 when none came in time.
        A window manager uses this to tell a hung program from a busy one.
    xwin.py cover X Y WIDTH HEIGHT READY-FILE
        puts a magenta window (override-redirect: no window manager moves it)
        over that part of the screen, creates READY-FILE once it is shown, and
        takes it away when it gets SIGTERM. What it covered is then exposed,
        and the X server leaves the magenta there until the program below
        paints its window again.
"""

import ctypes
import os
import signal
import sys
import time
from ctypes import POINTER, Structure, Union, byref, c_char_p, c_int, c_long, c_uint, c_ulong, c_void_p

CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
CW_BACK_PIXEL = 1 << 1
CW_OVERRIDE_REDIRECT = 1 << 9


class XClientMessageEvent(Structure):
    _fields_ = [("type", c_int), ("serial", c_ulong), ("send_event", c_int), ("display", c_void_p),
                ("window", c_ulong), ("message_type", c_ulong), ("format", c_int), ("l", c_long * 5)]


class XEvent(Union):
    _fields_ = [("type", c_int), ("xclient", XClientMessageEvent), ("pad", c_long * 24)]


class XSetWindowAttributes(Structure):
    _fields_ = [("background_pixmap", c_ulong), ("background_pixel", c_ulong), ("border_pixmap", c_ulong),
                ("border_pixel", c_ulong), ("bit_gravity", c_int), ("win_gravity", c_int),
                ("backing_store", c_int), ("backing_planes", c_ulong), ("backing_pixel", c_ulong),
                ("save_under", c_int), ("event_mask", c_long), ("do_not_propagate_mask", c_long),
                ("override_redirect", c_int), ("colormap", c_ulong), ("cursor", c_ulong)]


x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = c_void_p
x11.XOpenDisplay.argtypes = [c_char_p]
x11.XDefaultRootWindow.restype = c_ulong
x11.XDefaultRootWindow.argtypes = [c_void_p]
x11.XInternAtom.restype = c_ulong
x11.XInternAtom.argtypes = [c_void_p, c_char_p, c_int]
x11.XSelectInput.argtypes = [c_void_p, c_ulong, c_long]
x11.XSendEvent.argtypes = [c_void_p, c_ulong, c_int, c_long, POINTER(XEvent)]
x11.XPending.argtypes = [c_void_p]
x11.XNextEvent.argtypes = [c_void_p, POINTER(XEvent)]
x11.XFlush.argtypes = [c_void_p]
x11.XSync.argtypes = [c_void_p, c_int]
x11.XCreateWindow.restype = c_ulong
x11.XCreateWindow.argtypes = [c_void_p, c_ulong, c_int, c_int, c_uint, c_uint, c_uint, c_int, c_uint,
                              c_void_p, c_ulong, POINTER(XSetWindowAttributes)]
x11.XMapRaised.argtypes = [c_void_p, c_ulong]
x11.XCloseDisplay.argtypes = [c_void_p]


def display():
    dpy = x11.XOpenDisplay(None)
    if not dpy:
        sys.exit("cannot open the display")
    return dpy


def ping(window, timeout_ms):
    dpy = display()
    root = x11.XDefaultRootWindow(dpy)
    # The answer is sent to the root window for its structure and substructure listeners.
    x11.XSelectInput(dpy, root, STRUCTURE_NOTIFY_MASK)
    protocols = x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0)
    net_wm_ping = x11.XInternAtom(dpy, b"_NET_WM_PING", 0)
    stamp = int(time.monotonic() * 1000) & 0x7FFFFFFF
    event = XEvent()
    event.xclient.type = CLIENT_MESSAGE
    event.xclient.window = window
    event.xclient.message_type = protocols
    event.xclient.format = 32
    event.xclient.l[:] = [net_wm_ping, stamp, window, 0, 0]
    start = time.monotonic()
    x11.XSendEvent(dpy, window, 0, 0, byref(event))
    x11.XFlush(dpy)
    while (time.monotonic() - start) * 1000 < timeout_ms:
        while x11.XPending(dpy):
            answer = XEvent()
            x11.XNextEvent(dpy, byref(answer))
            c = answer.xclient
            if (answer.type == CLIENT_MESSAGE and c.message_type == protocols and c.l[0] == net_wm_ping
                    and c.l[1] == stamp and c.l[2] == window):
                print(int((time.monotonic() - start) * 1000))
                return 0
        time.sleep(0.005)
    return 1


def cover(x, y, width, height, ready):
    dpy = display()
    attributes = XSetWindowAttributes()
    attributes.background_pixel = 0xFF00FF
    attributes.override_redirect = 1
    window = x11.XCreateWindow(dpy, x11.XDefaultRootWindow(dpy), x, y, width, height, 0, 0, 1, None,
                               CW_BACK_PIXEL | CW_OVERRIDE_REDIRECT, byref(attributes))
    x11.XMapRaised(dpy, window)
    x11.XSync(dpy, 0)
    signal.signal(signal.SIGTERM, lambda *_: (x11.XCloseDisplay(dpy), os._exit(0)))
    with open(ready, "w") as f:
        f.write("%d\n" % window)
    while True:
        signal.pause()


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "ping":
        return ping(int(sys.argv[2], 0), int(sys.argv[3]))
    if len(sys.argv) == 7 and sys.argv[1] == "cover":
        return cover(*(int(a) for a in sys.argv[2:6]), sys.argv[6])
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
