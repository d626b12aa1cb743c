#!/usr/bin/env python3
"""Loads the firmware in a real WebKitGTK web view over the "velto" scheme, the way the app does,
and plays a short conversation with it. Prints one JSON object with what it saw; exits non-zero
when the page never spoke."""

import json
import os
import sys

from velto import GLib, VeltoView, WebKit2, cpu_seconds

ROOT = sys.argv[1]
SNAPSHOT = sys.argv[2] if len(sys.argv) > 2 else None
IDLE_SECONDS = 3

seen = {"messages": [], "requests": [], "checks": {}, "perf": {}, "idle": {}}
loop = GLib.MainLoop()


def on_message(body):
    seen["messages"].append(body)
    method = body.get("method")
    if method == "ready":
        answer(body, {"result": {"bridgeVersion": 1, "transport": "system", "volume": 50.0, "nowPlaying": None}})
        run("window.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'})); true", lambda _: None)
    elif method == "getList" and body.get("params", {}).get("path") == "music/songs":
        answer_songs(body)
    elif method == "getList":
        items = [{"id": "music/songs", "title": "Songs", "kind": "container", "hasChildren": True, "playable": False}]
        answer(body, {"result": {"id": "music", "title": "Music", "items": items}})
        GLib.timeout_add(2000, snapshot)


velto = VeltoView(ROOT, on_message)
view = velto.view
run = velto.run
answer = velto.answer


def finish():
    loop.quit()
    return False


def idle():
    # Nothing moves on the list now: the page must ask for no animation frame, and its CPU is
    # measured (tests/firmware/bench/idle measures a whole minute in each state).
    pids = velto.web_process_ids()
    before = sum(cpu_seconds(pid) for pid in pids)

    def read(frames):
        used = sum(cpu_seconds(pid) for pid in pids) - before
        seen["idle"] = {"seconds": IDLE_SECONDS, "animationFrames": frames, "webProcessCpuPercent": round(100 * used / IDLE_SECONDS, 3)}
        finish()

    run("window.__frames = 0; true", lambda _: GLib.timeout_add(IDLE_SECONDS * 1000, lambda: run("window.__frames", read) and False))
    return False


def after_resize(source, result):
    try:
        view.call_async_javascript_function_finish(result)
        seen["checks"]["resizeOutSettled"] = True
    except GLib.Error as error:
        seen["checks"]["resizeOutError"] = error.message
    run(
        "({title: document.getElementById('status-title').textContent,"
        " rows: [...document.querySelectorAll('#pages .page:last-child .row:not([hidden]) .row-title')].map(r => r.textContent),"
        " audio: typeof AudioContext, frames: typeof requestAnimationFrame, errors: window.__errors})",
        lambda shown: (seen["checks"].update(shown or {}), open_songs()),
    )


def open_songs():
    run("window.veltoFirmware.resizeReset(); window.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'})); true", lambda _: None)


SONGS = 100000


def answer_songs(message):
    # The answer line the native side evaluates for a 100,000-song list, timed from the call to its
    # completion: script transfer, parsing, the firmware's handling and its first drawing. The first
    # time the payload is an object literal, the second time the same JSON as a string literal.
    as_text = "answerRoundTripMs" in seen["perf"]
    items = [
        {"id": "music-track:%016X" % (0x100000 + i), "title": "Song %06d" % (i + 1), "subtitle": "Artist %d" % (i % 97),
         "kind": "track", "hasChildren": False, "playable": True}
        for i in range(SONGS)
    ]
    payload = json.dumps({"result": {"id": "music/songs", "title": "Songs", "items": items}}, separators=(",", ":"))
    script = "window.veltoNative?.resolve(%s, %s); performance.getEntriesByName('wheelbox:list-shown').length" % (
        json.dumps(message["id"]),
        json.dumps(payload) if as_text else payload,
    )
    started = GLib.get_monotonic_time()

    def done(shown):
        took = (GLib.get_monotonic_time() - started) / 1000
        if as_text:
            seen["perf"]["answerAsTextRoundTripMs"] = took
            # Let the page slide and the click sound's quiet spell end before the idle spell.
            GLib.timeout_add(5000, idle)
            return
        seen["perf"]["answerRoundTripMs"] = took
        seen["perf"]["answerBytes"] = len(script)
        run(STEP_TIMING, lambda steps: (seen["perf"].update(steps or {}), songs_again()))

    run("performance.clearMarks(); true", lambda _: run(script, done))


def songs_again():
    run(
        "window.dispatchEvent(new KeyboardEvent('keydown', {key: 'Escape'}));"
        " window.dispatchEvent(new KeyboardEvent('keydown', {key: 'Enter'})); true",
        lambda _: None,
    )


# Each wheel step in the long list, with its style and layout, as in the Chromium measurement.
STEP_TIMING = """(() => {
  const steps = [];
  for (let i = 0; i < 300; i++) {
    const t0 = performance.now();
    window.dispatchEvent(new KeyboardEvent('keydown', { key: i % 50 < 45 ? 'ArrowDown' : 'ArrowUp' }));
    document.querySelector('#pages .page:last-child .row.selected')?.getBoundingClientRect();
    steps.push(performance.now() - t0);
  }
  steps.sort((a, b) => a - b);
  const shown = document.getElementById('status-title').textContent;
  return { listTitle: shown, stepMedianMs: steps[150], stepP95Ms: steps[285], stepMaxMs: steps[299] };
})()"""


def snapshot():
    def saved(source, result):
        try:
            surface = view.get_snapshot_finish(result)
            if SNAPSHOT:
                surface.write_to_png(SNAPSHOT)
            seen["checks"]["snapshot"] = True
        except GLib.Error as error:
            seen["checks"]["snapshotError"] = error.message
        shrink()

    view.get_snapshot(WebKit2.SnapshotRegion.VISIBLE, WebKit2.SnapshotOptions.TRANSPARENT_BACKGROUND, None, saved)
    return False


def shrink():
    # The shrink call exactly as the native side makes it, in the page's content world.
    args = GLib.Variant("a{sv}", {"ratio": GLib.Variant("d", 0.5)})
    view.call_async_javascript_function(
        "return window.veltoFirmware && window.veltoFirmware.resizeOut(ratio);", -1, args, None, None, None, after_resize
    )


velto.load()
GLib.timeout_add_seconds(90, finish)
loop.run()
seen["requests"] = velto.requests
print(json.dumps(seen))
sys.exit(0 if seen["messages"] else 1)
