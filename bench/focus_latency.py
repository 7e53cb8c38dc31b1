#!/usr/bin/env python3
# SPDX-FileCopyrightText: 2026 The Wavelark developers
# SPDX-License-Identifier: GPL-3.0-or-later
"""Time from the pointer entering a window until the window manager names it active.

Usage: focus_latency.py SELF_WINDOW PARTNER_WINDOW TRIES
Each try warps the pointer into SELF_WINDOW's area at (200, 500) and waits until
_NET_ACTIVE_WINDOW is SELF_WINDOW, then into the partner's at (1000, 300) and waits for
PARTNER_WINDOW. Prints one line per try: "in_ms out_ms" ("timeout" after 3 s). Waits on the
root window's property events, so the measuring client itself takes no CPU while it waits.
"""
import ctypes
import ctypes.util
import select
import sys
import time

PROPERTY_CHANGE_MASK = 1 << 22
TIMEOUT_S = 3.0

x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XFree.argtypes = [ctypes.c_void_p]
x11.XWarpPointer.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_int,
                             ctypes.c_int, ctypes.c_uint, ctypes.c_uint, ctypes.c_int,
                             ctypes.c_int]
x11.XGetWindowProperty.argtypes = [
    ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_long, ctypes.c_long, ctypes.c_int,
    ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_int),
    ctypes.POINTER(ctypes.c_ulong), ctypes.POINTER(ctypes.c_ulong),
    ctypes.POINTER(ctypes.c_void_p)]

display = x11.XOpenDisplay(None)
if not display:
    sys.exit("focus_latency.py: no X display")
root = x11.XDefaultRootWindow(display)
active_atom = x11.XInternAtom(display, b"_NET_ACTIVE_WINDOW", 0)
x11.XSelectInput(display, root, PROPERTY_CHANGE_MASK)
event = ctypes.create_string_buffer(192)  # an XEvent union


def active_window():
    kind, fmt = ctypes.c_ulong(), ctypes.c_int()
    count, after, data = ctypes.c_ulong(), ctypes.c_ulong(), ctypes.c_void_p()
    if x11.XGetWindowProperty(display, root, active_atom, 0, 1, 0, 0, ctypes.byref(kind),
                              ctypes.byref(fmt), ctypes.byref(count), ctypes.byref(after),
                              ctypes.byref(data)) != 0:
        return 0
    value = ctypes.cast(data, ctypes.POINTER(ctypes.c_ulong))[0] if count.value else 0
    if data:
        x11.XFree(data)
    return value


def latency(px, py, window):
    start = time.monotonic()
    x11.XWarpPointer(display, 0, root, 0, 0, 0, 0, px, py)
    x11.XFlush(display)
    while active_window() != window:
        left = TIMEOUT_S - (time.monotonic() - start)
        if left <= 0:
            return "timeout"
        # Any property event may be the change: look again; with none queued, sleep until one.
        if x11.XPending(display):
            while x11.XPending(display):
                x11.XNextEvent(display, event)
        else:
            select.select([x11.XConnectionNumber(display)], [], [], left)
    return "%d" % round((time.monotonic() - start) * 1000)


self_window, partner_window, tries = int(sys.argv[1], 0), int(sys.argv[2], 0), int(sys.argv[3])
for _ in range(tries):
    into = latency(200, 500, self_window)
    out = latency(1000, 300, partner_window)
    print(into, out, flush=True)
