"""What the application benchmarks share: starting the app, finding its device, reading the screen,
keys, and its process tree from /proc."""
import os
import signal
import subprocess
import time

import gi

gi.require_version("Gdk", "3.0")
from gi.repository import Gdk  # noqa: E402

Gdk.set_allowed_backends("x11")
Gdk.init([])
TICKS = os.sysconf("SC_CLK_TCK")
# Inside the device's first screen: the highlighted first row, in the large device's window.
ROW = (150, 134)
# The colour of desktop.py (no first row: red above 100), and a point of the device window that is
# not its first row.
DESKTOP = (0x9A, 0x8C, 0x78)
CENTRE = (235, 385)


def device_origin(width=470, height=770):
    """Where a device window of that size is centred on the screen, as the app places it."""
    screen = Gdk.get_default_root_window()
    return (screen.get_width() - width) // 2, (screen.get_height() - height) // 2


def row_is_drawn():
    x, y = device_origin()
    picture = Gdk.pixbuf_get_from_window(Gdk.get_default_root_window(), x + ROW[0], y + ROW[1], 1, 1)
    if picture is None:
        return False
    r, g, b = picture.get_pixels()[:3]
    return g > 120 and b > 100 and r < 100


def shows_desktop(point=CENTRE):
    """Whether the screen shows the desktop at that point of the device's window."""
    x, y = device_origin()
    picture = Gdk.pixbuf_get_from_window(Gdk.get_default_root_window(), x + point[0], y + point[1], 1, 1)
    return picture is not None and tuple(picture.get_pixels()[:3]) == DESKTOP


def wait_until(condition, timeout, step=0.01):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(step)
    return False


def start(command):
    return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(15)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    fields = stat.read().rsplit(")", 1)[1].split()
                if int(fields[1]) == pid:
                    found.append(int(entry))
            except OSError:
                pass
    return found


def tree(pid):
    every = [pid]
    for child in children(pid):
        every += tree(child)
    return every


def name(pid):
    try:
        with open(f"/proc/{pid}/comm") as comm:
            return comm.read().strip()
    except OSError:
        return "?"


def cpu_seconds(pid, reaped_children=False):
    """User and system CPU time; with the children it has reaped (the script tool's runs)."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    own = (int(fields[11]) + int(fields[12])) / TICKS
    reaped = (int(fields[13]) + int(fields[14])) / TICKS
    return own, reaped


def resident_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024
    return 0.0


def device_window():
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Wheelbox$"], capture_output=True, text=True)
    return out.stdout.split()[0] if out.stdout.split() else None


def keys(*names):
    window = device_window()
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False)
    for key in names:
        subprocess.run(["xdotool", "key", key], check=False)
        time.sleep(0.4)


def mpd_playing(socket):
    out = subprocess.run(["mpc", "status"], env=dict(os.environ, MPD_HOST=socket), capture_output=True, text=True)
    return "[playing]" in out.stdout
