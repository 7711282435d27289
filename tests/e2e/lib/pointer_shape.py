#!/usr/bin/env python3
"""Prints the shape of the mouse pointer on $DISPLAY (size, hot spot and a checksum of its
pixels), so a test can tell whether two places show the same pointer."""
import ctypes
import ctypes.util
import sys
import zlib


class XFixesCursorImage(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_short), ("y", ctypes.c_short),
        ("width", ctypes.c_ushort), ("height", ctypes.c_ushort),
        ("xhot", ctypes.c_ushort), ("yhot", ctypes.c_ushort),
        ("cursor_serial", ctypes.c_ulong),
        ("pixels", ctypes.POINTER(ctypes.c_ulong)),
        ("atom", ctypes.c_ulong), ("name", ctypes.c_char_p),
    ]


def main():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    xfixes = ctypes.CDLL(ctypes.util.find_library("Xfixes") or "libXfixes.so.3")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_int)]
    xfixes.XFixesQueryVersion.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                          ctypes.POINTER(ctypes.c_int)]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(XFixesCursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]

    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    event_base, error_base = ctypes.c_int(), ctypes.c_int()
    if not xfixes.XFixesQueryExtension(display, ctypes.byref(event_base), ctypes.byref(error_base)):
        sys.exit("the display has no XFIXES extension")
    major, minor = ctypes.c_int(2), ctypes.c_int(0)
    xfixes.XFixesQueryVersion(display, ctypes.byref(major), ctypes.byref(minor))
    image = xfixes.XFixesGetCursorImage(display)
    if not image:
        sys.exit("no pointer image")
    c = image.contents
    pixels = bytes(ctypes.string_at(c.pixels, c.width * c.height * ctypes.sizeof(ctypes.c_ulong)))
    print(f"{c.width}x{c.height}+{c.xhot}+{c.yhot} {zlib.crc32(pixels):08x}")
    x11.XFree(image)
    x11.XCloseDisplay(display)


main()
