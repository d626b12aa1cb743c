"""What the app benchmarks measure side by side: the app (and an older build of it), the floor (a
bare WebKitGTK window changing one word a second) and the MPD clients Debian packages. Each knows
how to start with a home of its own, reach the same MPD, and come to the screen that is measured."""
import os
import shutil
import subprocess
import time

import common

HERE = os.path.dirname(os.path.abspath(__file__))
# The MPD clients, each as the user meets it: its own window (ncmpcpp in an xterm).
PEERS = ("sonata", "cantata", "gmpc", "ncmpcpp")


class Subject:
    def __init__(self, name, command, env, title):
        self.name, self.command, self.env, self.title = name, command, env, title
        self.process = None

    def start(self):
        self.process = common.start(self.command, env=self.env)

    def shown(self, timeout=60):
        return common.wait_until(lambda: common.window_named(self.title) is not None, timeout, step=0.2)

    def play(self, mpd):
        """Comes to the screen that shows the song playing; False when it never does."""
        mpd.play_queue()
        return self.shown()

    def browse(self, mpd):
        """Comes to the screen measured for memory; False when it never does."""
        return self.shown()

    def stop(self):
        if self.process:
            common.stop(self.process)
            self.process = None


class App(Subject):
    """The installed app: Music > Songs, and the first song played from there."""

    def __init__(self, name, command):
        super().__init__(name, command, None, "^Wheelbox$")

    def shown(self, timeout=60):
        return common.wait_until(common.row_is_drawn, timeout)

    def songs(self):
        """Music, then Songs (found by its first letter, as the wheel's keys jump)."""
        time.sleep(2)
        common.keys("Return")
        # The slide, then the list (at 100,000 songs the library is read first): its first row
        # highlighted.
        time.sleep(1)
        common.wait_until(common.row_is_drawn, 60, step=0.1)
        common.keys("s", "Return")

    def play(self, mpd):
        if not self.shown():
            return False
        self.songs()
        time.sleep(1.5)
        common.keys("Return")
        if not common.wait_until(mpd.playing, 20):
            return False
        mpd.remember_queue()
        time.sleep(2)
        common.save_device_picture(f"{self.name}-now-playing")
        return True

    def browse(self, mpd):
        if not self.shown():
            return False
        self.songs()
        # Memory is read once the list is on the screen and has had a few seconds to settle.
        time.sleep(1)
        if not common.wait_until(common.row_is_drawn, 90, step=0.1):
            return False
        time.sleep(5)
        common.save_device_picture(f"{self.name}-songs")
        return True


def variants(command):
    """This build again under other environment variables, one subject each, from
    WHEELBOX_BENCH_VARIANTS: "LABEL:NAME=VALUE NAME=VALUE;LABEL:...", for trying a setting out."""
    found = []
    for entry in filter(None, os.environ.get("WHEELBOX_BENCH_VARIANTS", "").split(";")):
        label, _, assignments = entry.partition(":")
        found.append(App(label.strip(), ["env", *assignments.split(), *command]))
    return found


def roster(command, home, mpd, label):
    """Every subject of a run, in the order measured: the app first (its queue is the one the
    clients play), an older build (WHEELBOX_BENCH_BASELINE_APP) and variants, the floor, the
    clients (WHEELBOX_BENCH_PEERS) that are installed."""
    found = [App("Wheelbox", command)]
    if os.environ.get("WHEELBOX_BENCH_BASELINE_APP"):
        found.append(App("baseline", command[:-1] + [os.environ["WHEELBOX_BENCH_BASELINE_APP"]]))
    found += variants(command)
    found.append(floor(f"{home}/floor"))
    wanted = os.environ.get("WHEELBOX_BENCH_PEERS", " ".join(PEERS)).split()
    for name in PEERS:
        if name in wanted:
            client = peer(name, f"{home}/{name}", mpd)
            if client:
                found.append(client)
            else:
                print(f"app/{label}: {name} is not installed; skipped", flush=True)
    return found


def floor(home):
    x, y = common.device_origin()
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=f"{home}/config", XDG_DATA_HOME=f"{home}/data",
               XDG_CACHE_HOME=f"{home}/cache", NO_AT_BRIDGE="1", LIBGL_ALWAYS_SOFTWARE="1")
    command = ["/usr/bin/python3", f"{HERE}/bare.py", "--word", str(x), str(y)]
    return Subject("floor", command, env, "^WebKitGTK floor$")


def peer(name, home, mpd):
    """One MPD client with a home of its own that points it at the benchmark's MPD, or None when it
    is not installed."""
    if not shutil.which(name) or (name == "ncmpcpp" and not shutil.which("xterm")):
        return None
    config = f"{home}/.config"
    os.makedirs(config, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, NO_AT_BRIDGE="1", MPD_HOST=mpd.host,
               MPD_PORT=str(mpd.port))
    if name == "cantata":
        # A connection of its own, and a version, so that no first-run assistant opens.
        os.makedirs(f"{config}/cantata", exist_ok=True)
        with open(f"{config}/cantata/cantata.conf", "w") as conf:
            conf.write(f"[General]\nversion=2.5.0\n[Connection]\nhost={mpd.host}\nport={mpd.port}\ndir={mpd.music}/\n")
        return Subject(name, ["cantata"], env, "Cantata")
    if name == "gmpc":
        os.makedirs(f"{config}/gmpc", exist_ok=True)
        with open(f"{config}/gmpc/profiles.cfg", "w") as conf:
            conf.write(f'[Default]\nhostname="{mpd.host}"\nname="Default"\npassword=""\nportnumber="{mpd.port}"\n'
                       'useauth="0"\nmusic directory=""\ndb update time="0"\n[]\n')
        with open(f"{config}/gmpc/gmpc.cfg", "w") as conf:
            conf.write('[Default]\nfirst-run="0"\n[]\n\n[connection]\ncurrentprofile="Default"\nautoconnect="1"\n[]\n')
        return Subject(name, ["gmpc"], env, " - |GMPC")
    if name == "sonata":
        return Subject(name, ["sonata"], env, "Sonata")
    return Subject(name, ["xterm", "-T", "ncmpcpp", "-geometry", "100x30", "-e", "ncmpcpp"], env, "ncmpcpp")


class Mpd:
    """The benchmark's MPD, on a unix socket (the app) and a local TCP port (the clients)."""

    def __init__(self, socket, port, music):
        self.socket, self.host, self.port, self.music = socket, "127.0.0.1", int(port), music
        self.queue, self.position = [], 0

    def mpc(self, *arguments):
        env = dict(os.environ, MPD_HOST=self.socket)
        env.pop("MPD_PORT", None)
        return subprocess.run(["mpc", *arguments], env=env, capture_output=True, text=True, timeout=20).stdout

    def playing(self):
        return "[playing]" in self.mpc("status")

    def remember_queue(self):
        """The queue the app played and where, so that every client plays the same songs."""
        self.queue = self.mpc("-f", "%file%", "playlist").split("\n")[:-1]
        self.position = int(self.mpc("-f", "%position%", "current").strip() or 1)

    def play_queue(self):
        self.mpc("stop")
        self.mpc("clear")
        if self.queue:
            subprocess.run(["mpc", "add"], input="\n".join(self.queue), text=True, capture_output=True, timeout=20,
                           env=dict(os.environ, MPD_HOST=self.socket))
            self.mpc("play", str(self.position))

    def stop(self):
        self.mpc("stop")
