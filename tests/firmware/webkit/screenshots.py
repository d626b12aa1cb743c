#!/usr/bin/env python3
"""Pictures of the device's main states in WebKitGTK, the engine users meet, at the four sizes:
the first start, the main menu, the albums and an album, Now Playing playing and paused, the
backlight off, and the silver body. Writes webkit-SIZE-STATE.png into the folder given; prints the
names as JSON; exits non-zero when a picture could not be taken."""

import json
import os
import sys

from velto import GLib, VeltoView, WebKit2

ROOT = sys.argv[1]
OUT = sys.argv[2]
SIZES = [("large", 470, 770), ("medium", 352, 578), ("small", 235, 385), ("tiny", 164, 270)]

PLAYING = {"source": "music", "persistentID": "00000000000000C3", "title": "Harbour Lights Over the Northern Breakwater",
           "artist": "Mira Sol", "album": "Salt & Static", "elapsed": 83.0, "duration": 247.0, "isPlaying": True,
           "queuePosition": 4, "queueCount": 5}
ALBUM = "music/albums/00000000000000A4"


def container(path, title, **extra):
    return {"id": path, "title": title, "kind": "container", "hasChildren": True, "playable": False, **extra}


def song(n, title, length):
    return {"id": "music-track:%016X" % n, "title": title, "subtitle": "Mira Sol", "kind": "track", "hasChildren": False,
            "playable": True, "trackNumber": n, "duration": length}


LISTS = {
    "music": {"id": "music", "title": "Music", "items": [container("music/playlists", "Playlists"), container("music/artists", "Artists"),
                                                          container("music/albums", "Albums"), container("music/songs", "Songs"),
                                                          container("music/genres", "Genres")]},
    "music/albums": {"id": "music/albums", "title": "Albums", "items": [
        container("music/albums/00000000000000A2", "Copper Sky", artist="The Lumen Trio"),
        container("music/albums/00000000000000A3", "Late Bloom", artist="The Lumen Trio"),
        container("music/albums/00000000000000A1", "Northern Lines", artist="Aster Vale"),
        container(ALBUM, "Salt & Static", artist="Mira Sol")]},
    ALBUM: {"id": ALBUM, "title": "Salt & Static", "items": [song(1, "Salt", 168), song(2, "Static", 205), song(3, "Undertow", 242),
                                                             song(4, "Harbour Lights", 279), song(5, "Last Ferry", 186)]},
}

state = {"nowPlaying": dict(PLAYING)}
taken = []
failed = []
loop = GLib.MainLoop()


def on_message(body):
    method = body.get("method")
    params = body.get("params") or {}
    if method == "haptic" or "id" not in body:
        return
    if method == "ready":
        result = {"bridgeVersion": 1, "transport": "system", "volume": 50.0, "nowPlaying": state["nowPlaying"]}
    elif method == "getList":
        result = LISTS.get(params.get("path"), {"id": params.get("path"), "title": "Music", "items": []})
    elif method == "getNowPlaying":
        result = state["nowPlaying"]
    elif method == "playPause":
        state["nowPlaying"] = {**state["nowPlaying"], "isPlaying": not state["nowPlaying"]["isPlaying"]}
        result = {"transport": "system", "nowPlaying": state["nowPlaying"]}
    elif method == "getSettings":
        result = {"transport": "system", "volume": 50.0, "alwaysOnTop": False}
    elif method == "setFirmwareAwake":
        result = {"awake": params.get("awake", True)}
    else:
        result = None
    velto.answer(body, {"result": result} if result is not None else {})


# A first start whose backlight goes off after 10 s, so the pictures need not wait out 30; in a
# context of its own, so nothing of it stays for the other WebKitGTK runs.
FIRST_START = "localStorage.removeItem('wheelbox.menuHint'); localStorage.setItem('wheelbox.backlight', '10');"
velto = VeltoView(ROOT, on_message, scripts=(FIRST_START,), ephemeral=True)


def shoot(name, then):
    """Takes the picture at every size, largest first, and goes back to the large size."""
    sizes = list(SIZES)

    def next_size():
        if not sizes:
            velto.window.resize(470, 770)
            GLib.timeout_add(400, lambda: then() and False)
            return False
        size, width, height = sizes.pop(0)
        velto.window.resize(width, height)
        GLib.timeout_add(500, lambda: snap(size) and False)
        return False

    def snap(size):
        def saved(_source, result):
            try:
                path = os.path.join(OUT, "webkit-%s-%s.png" % (size, name))
                velto.view.get_snapshot_finish(result).write_to_png(path)
                taken.append(os.path.basename(path))
            except GLib.Error as error:
                failed.append("%s %s: %s" % (size, name, error.message))
            next_size()

        velto.view.get_snapshot(WebKit2.SnapshotRegion.VISIBLE, WebKit2.SnapshotOptions.TRANSPARENT_BACKGROUND, None, saved)

    next_size()


def keys(*names):
    for name in names:
        velto.key(name)


# Each step: keys to press, the wait before the pictures (ms), and the state's name.
STEPS = [
    ((), 1500, "first-start"),
    (("ArrowDown", "ArrowUp"), 600, "menu"),
    (("Enter", "ArrowDown", "ArrowDown", "Enter"), 900, "albums"),
    (("End", "Enter"), 900, "album"),
    (("Escape", "Escape", "Escape", "End", "Enter"), 900, "now-playing"),
    ((" ",), 700, "now-playing-paused"),
    ((), 12000, "backlight-off"),
    # Waking, then Settings > Body: silver.
    (("Escape", "End", "ArrowUp", "ArrowUp", "Enter", "ArrowDown", "ArrowDown", "ArrowDown", "ArrowDown", "Enter", "Escape"), 900, "silver-menu"),
    (("End", "Enter"), 900, "silver-now-playing"),
]


def step(index=0):
    if index == len(STEPS):
        loop.quit()
        return False
    pressed, wait, name = STEPS[index]

    def press(remaining):
        if remaining:
            keys(remaining[0])
            GLib.timeout_add(120, lambda: press(remaining[1:]) and False)
            return False
        GLib.timeout_add(wait, lambda: shoot(name, lambda: step(index + 1)) and False)
        return False

    press(list(pressed))
    return False


velto.load()
velto.view.connect("load-changed", lambda _view, event: event == WebKit2.LoadEvent.FINISHED and GLib.timeout_add(300, step))
GLib.timeout_add_seconds(150, loop.quit)
loop.run()
print(json.dumps({"taken": taken, "failed": failed}))
sys.exit(0 if taken and not failed else 1)
