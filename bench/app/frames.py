"""When the screen changes, as the X server sees it: a thread that watches the root window with the
DAMAGE extension (libXdamage through ctypes) and keeps the time of every change. Changes closer
than FRAME_GAP together are one frame. Whatever draws (a composited or a painted web view, GTK's
own fade) is seen alike, which the page's animation frames are not: a composited page animates
off its main thread."""
import ctypes
import ctypes.util
import os
import select
import threading
import time

FRAME_GAP = 0.004  # seconds
REPORT_NON_EMPTY = 3

x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
xdamage = ctypes.CDLL(ctypes.util.find_library("Xdamage") or "libXdamage.so.1")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XDefaultRootWindow.restype = ctypes.c_ulong
x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
x11.XPending.argtypes = [ctypes.c_void_p]
x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
xdamage.XDamageQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
xdamage.XDamageCreate.restype = ctypes.c_ulong
xdamage.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
xdamage.XDamageSubtract.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_ulong]


class ScreenChanges(threading.Thread):
    """Collects the monotonic times of the screen's frames until stop()."""

    def __init__(self):
        super().__init__(daemon=True)
        self.display = x11.XOpenDisplay(os.environ["DISPLAY"].encode())
        if not self.display:
            raise RuntimeError("cannot open the display")
        event_base, error_base = ctypes.c_int(), ctypes.c_int()
        if not xdamage.XDamageQueryExtension(self.display, ctypes.byref(event_base), ctypes.byref(error_base)):
            raise RuntimeError("the X server has no DAMAGE extension")
        self.notify = event_base.value  # XDamageNotify is the first event of the extension
        self.damage = xdamage.XDamageCreate(self.display, x11.XDefaultRootWindow(self.display), REPORT_NON_EMPTY)
        x11.XFlush(self.display)
        self.times, self.lock, self.running = [], threading.Lock(), True

    def run(self):
        event = ctypes.create_string_buffer(192)  # sizeof(XEvent)
        descriptor = x11.XConnectionNumber(self.display)
        while self.running:
            select.select([descriptor], [], [], 0.1)
            while x11.XPending(self.display):
                x11.XNextEvent(self.display, event)
                if ctypes.c_int.from_buffer(event).value == self.notify:
                    now = time.monotonic()
                    xdamage.XDamageSubtract(self.display, self.damage, 0, 0)
                    with self.lock:
                        if not self.times or now - self.times[-1] > FRAME_GAP:
                            self.times.append(now)
            x11.XFlush(self.display)

    def between(self, start, end):
        with self.lock:
            return [t for t in self.times if start <= t <= end]

    def stop(self):
        self.running = False
        self.join(2)
        x11.XCloseDisplay(self.display)
