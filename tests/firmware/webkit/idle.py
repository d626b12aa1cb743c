#!/usr/bin/env python3
"""What the firmware costs while nobody touches it, in WebKitGTK: the web content process's CPU
time over a spell on Now Playing (a song playing, pushed every second as the native side does), on
the main menu, and asleep; and the animation frames the page asked for in each spell.

    idle.py FIRMWARE_DIR [SECONDS] [--cover]    prints one JSON object; run under X (Xvfb)

With --cover the song carries its cover's address, as the native side's readings do.

The screen's 30-second sleep timer is held back during the two awake spells (an awake screen is
what they measure); the asleep spell lets it run out first."""

import json
import os
import sys
import time

from velto import GLib, VeltoView, cpu_seconds

ROOT = sys.argv[1]
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2] != "--cover" else 60.0
COVER = "--cover" in sys.argv[2:]
SLEEP_TIMER_MS = 30000

# Holds back the screen's sleep timer while window.__holdSleep is set.
HOLD_SLEEP = (
    "window.__holdSleep = true;"
    "{ const set = window.setTimeout.bind(window);"
    "  window.setTimeout = (fn, ms, ...rest) =>"
    "    set(fn, window.__holdSleep && ms === %d ? 2147483647 : ms, ...rest); }" % SLEEP_TIMER_MS
)

started = time.monotonic()
playing = {
    "source": "music", "persistentID": "00000000000000C3", "title": "Harbour Lights", "artist": "Mira Sol",
    "album": "Salt & Static", "elapsed": 12.0, "duration": 247.0, "isPlaying": True, "queuePosition": 4, "queueCount": 12,
}
if COVER:
    playing["artwork"] = "velto://app/artwork/00000000000000C3-168"
state = {"awake": True, "ready": False}
figures = {"seconds": SECONDS}
loop = GLib.MainLoop()


def reading():
    return dict(playing, elapsed=playing["elapsed"] + (time.monotonic() - started))


def on_message(body):
    method = body.get("method")
    if method == "haptic":
        return
    if method == "ready":
        state["ready"] = True
        view.answer(body, {"result": {"bridgeVersion": 1, "transport": "music", "volume": 50.0, "nowPlaying": reading()}})
    elif method == "setFirmwareAwake":
        state["awake"] = body.get("params", {}).get("awake") is not False
        view.answer(body, {"result": {"awake": state["awake"]}})
    elif method == "getNowPlaying":
        view.answer(body, {"result": reading()})
    else:
        view.answer(body, {})


def push():
    # The native poll pushes every second while the screen is awake and the position moves.
    if state["ready"] and state["awake"]:
        view.send("window.veltoNative?.nowPlaying(%s);" % json.dumps(reading()))
    return True


view = VeltoView(ROOT, on_message, scripts=(HOLD_SLEEP,))


def measure(name, then):
    pids = view.web_process_ids()
    before = {pid: cpu_seconds(pid) for pid in pids}
    ui_before = cpu_seconds(os.getpid())
    wall = time.monotonic()
    view.run("window.__frames = 0; true")

    def done():
        elapsed = time.monotonic() - wall
        used = sum(cpu_seconds(pid) - before[pid] for pid in pids)
        ui_used = cpu_seconds(os.getpid()) - ui_before

        def read(frames):
            figures[name] = {
                "webProcessCpuPercent": round(100 * used / elapsed, 3),
                "uiProcessCpuPercent": round(100 * ui_used / elapsed, 3),
                "animationFrames": frames,
            }
            then()

        view.run("window.__frames", read)
        return False

    GLib.timeout_add(int(SECONDS * 1000), done)


def show_now_playing():
    # Down the main menu to its "Now Playing" row, then into it.
    view.run(
        """(() => {
          for (let i = 0; i < 8; i++) {
            const selected = document.querySelector('#pages .page:last-child .row.selected .row-title');
            if (selected && selected.textContent === 'Now Playing') break;
            window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
            window.dispatchEvent(new KeyboardEvent('keyup', { key: 'ArrowDown' }));
          }
          window.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter' }));
          window.dispatchEvent(new KeyboardEvent('keyup', { key: 'Enter' }));
          return document.getElementById('status-title').textContent;
        })()""",
        lambda title: figures.update(nowPlayingTitle=title),
    )
    # Let the page slide, the click sound and any pause before scrolling text run their course.
    GLib.timeout_add(8000, lambda: measure("nowPlaying", show_menu) and False)
    return False


def show_menu():
    view.key("Escape")
    view.run("document.getElementById('status-title').textContent", lambda title: figures.update(menuTitle=title))
    GLib.timeout_add(8000, lambda: measure("menu", go_to_sleep) and False)


def go_to_sleep():
    # Any input restarts the sleep timer; this time it runs out.
    view.run("window.__holdSleep = false; true", lambda _: view.key("Escape"))
    GLib.timeout_add(SLEEP_TIMER_MS + 3000, lambda: measure("asleep", finish) and False)


def finish():
    view.run("window.__errors", lambda errors: (figures.update(errors=errors), loop.quit()))


view.load()
GLib.timeout_add(1000, push)
GLib.timeout_add(4000, show_now_playing)
GLib.timeout_add(int(3 * SECONDS * 1000 + SLEEP_TIMER_MS + 60000), loop.quit)
loop.run()
print(json.dumps(figures))
sys.exit(0 if "asleep" in figures else 1)
