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


def save_device_picture(name):
    """The device's window as it is on the screen, as NAME.png in WHEELBOX_BENCH_SHOTS when set."""
    folder = os.environ.get("WHEELBOX_BENCH_SHOTS")
    if not folder:
        return
    os.makedirs(folder, exist_ok=True)
    x, y = device_origin()
    picture = Gdk.pixbuf_get_from_window(Gdk.get_default_root_window(), x, y, 470, 770)
    if picture is not None:
        picture.savev(f"{folder}/{name}.png", "png", [], [])


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


def start(command, env=None):
    return subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True, env=env)


def stop(process):
    process.send_signal(signal.SIGTERM)
    try:
        process.wait(15)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()
    # Whatever it left in its group (a helper that outlived it) goes too.
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


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


def window_named(pattern):
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", pattern], capture_output=True, text=True,
                         timeout=10)
    return out.stdout.split()[0] if out.stdout.split() else None


def device_window():
    return window_named("^Wheelbox$")


def x_server_seconds():
    """CPU time of the X server the benchmark started (WHEELBOX_BENCH_X_PID), or 0 without one."""
    pid = os.environ.get("WHEELBOX_BENCH_X_PID")
    return sum(cpu_seconds(int(pid))) if pid else 0.0


def thread_seconds(pid):
    """CPU time of each thread of a process, by thread name (threads of one name added up)."""
    used = {}
    try:
        tasks = os.listdir(f"/proc/{pid}/task")
    except OSError:
        return used
    for task in tasks:
        try:
            with open(f"/proc/{pid}/task/{task}/stat") as stat:
                text = stat.read()
        except OSError:
            continue
        label = text[text.index("(") + 1:text.rindex(")")]
        fields = text.rsplit(")", 1)[1].split()
        used[label] = used.get(label, 0.0) + (int(fields[11]) + int(fields[12])) / TICKS
    return used


def proportional_mb(pid):
    """PSS of one process in MB (shared pages split between the processes that map them)."""
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            for line in rollup:
                if line.startswith("Pss:"):
                    return int(line.split()[1]) / 1024
    except OSError:
        pass
    return 0.0


def proportional_parts(pid):
    """PSS of one process in MB by kind of mapping: the heap (glibc's main arena), other private
    memory (the threads' arenas, large blocks, thread stacks, JIT code), shared memory, the code and
    data of libraries, and other files (fonts, caches, the locale archive)."""
    parts = {}
    kind = None
    try:
        with open(f"/proc/{pid}/smaps") as smaps:
            for line in smaps:
                fields = line.split()
                if not line[0].isupper() or not fields[0].endswith(":"):
                    path = fields[5] if len(fields) > 5 else ""
                    if path == "[heap]":
                        kind = "heap"
                    elif path == "" or path.startswith("[anon") or path == "[stack]":
                        kind = "private"
                    elif path.startswith(("/memfd:", "/dev/shm", "/SYSV")):
                        kind = "shared"
                    elif ".so" in path:
                        kind = "libraries"
                    else:
                        kind = "files"
                elif fields[0] == "Pss:":
                    parts[kind] = parts.get(kind, 0.0) + int(fields[1]) / 1024
    except OSError:
        pass
    return parts


def keys(*names):
    window = device_window()
    subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False)
    for key in names:
        subprocess.run(["xdotool", "key", key], check=False)
        time.sleep(0.4)


def mpd_playing(socket):
    out = subprocess.run(["mpc", "status"], env=dict(os.environ, MPD_HOST=socket), capture_output=True, text=True)
    return "[playing]" in out.stdout
