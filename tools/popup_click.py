"""Clicks the main window's help-mode button and then its task grid, on the X display in
$DISPLAY, through the X test extension (no window manager needed). Used by
popup_screenshot.sh."""

import ctypes
import re
import subprocess
import sys
import time

x11 = ctypes.cdll.LoadLibrary("libX11.so.6")
xtst = ctypes.cdll.LoadLibrary("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                      ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                      ctypes.c_ulong]


def window_geometry(name):
    info = subprocess.run(["xwininfo", "-name", name], capture_output=True, text=True,
                          check=True).stdout

    def field(label):
        return int(re.search(label + r":\s+(-?\d+)", info).group(1))

    return (field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"),
            field("Height"))


def click(display, x, y):
    xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
    x11.XFlush(display)
    time.sleep(0.3)
    xtst.XTestFakeButtonEvent(display, 1, 1, 0)
    x11.XFlush(display)
    time.sleep(0.1)
    xtst.XTestFakeButtonEvent(display, 1, 0, 0)
    x11.XFlush(display)
    time.sleep(0.5)


def main():
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the X display")
    left, top, width, height = window_geometry("Listwise")
    # The help-mode button sits at the right end of the bottom bar (43 pixels high).
    click(display, left + width - 20, top + height - 21)
    # Then the grid, in the upper part of the window.
    click(display, left + width // 3, top + height // 3)
    x11.XCloseDisplay(display)


if __name__ == "__main__":
    main()
