#!/usr/bin/env python3
"""Loads the firmware in a real WebKitGTK web view over the "velto" scheme, the way the app does,
and plays a short conversation with it. Prints one JSON object with what it saw; exits non-zero
when the page never spoke."""

import json
import os
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import Gdk, Gio, GLib, Gtk, WebKit2  # noqa: E402

ROOT = os.path.realpath(sys.argv[1])
SNAPSHOT = sys.argv[2] if len(sys.argv) > 2 else None
TYPES = {".html": "text/html", ".css": "text/css", ".js": "text/javascript", ".svg": "image/svg+xml", ".json": "application/json"}

seen = {"messages": [], "requests": [], "checks": {}, "perf": {}}
loop = GLib.MainLoop()


def serve(request):
    relative = request.get_path().lstrip("/")
    path = os.path.realpath(os.path.join(ROOT, relative))
    seen["requests"].append(relative)
    if not relative or not path.startswith(ROOT + os.sep) or not os.path.isfile(path):
        request.finish_error(GLib.Error.new_literal(Gio.io_error_quark(), "not found", Gio.IOErrorEnum.NOT_FOUND))
        return
    with open(path, "rb") as f:
        data = f.read()
    stream = Gio.MemoryInputStream.new_from_bytes(GLib.Bytes.new(data))
    response = WebKit2.URISchemeResponse.new(stream, len(data))
    mime = TYPES.get(os.path.splitext(path)[1], "application/octet-stream")
    response.set_content_type(mime + ("; charset=utf-8" if mime.startswith("text/") else ""))
    request.finish_with_response(response)


context = WebKit2.WebContext.new()
context.register_uri_scheme("velto", serve)
manager = WebKit2.UserContentManager()
manager.register_script_message_handler("velto")
# Collect every uncaught error and rejection of the page, to be read back at the end.
manager.add_script(
    WebKit2.UserScript.new(
        "window.__errors = [];"
        "addEventListener('error', (e) => window.__errors.push(String(e.message)));"
        "addEventListener('unhandledrejection', (e) => window.__errors.push('rejection: ' + String(e.reason)));",
        WebKit2.UserContentInjectedFrames.TOP_FRAME,
        WebKit2.UserScriptInjectionTime.START,
        None,
        None,
    )
)
view = WebKit2.WebView(web_context=context, user_content_manager=manager)
transparent = Gdk.RGBA()
transparent.parse("rgba(0,0,0,0)")
view.set_background_color(transparent)


def run(script, then):
    def done(source, result):
        try:
            value = view.evaluate_javascript_finish(result)
            then(json.loads(value.to_json(0)) if value and not value.is_undefined() else None)
        except GLib.Error as error:
            then({"error": error.message})

    view.evaluate_javascript(script, -1, None, None, None, done)


def answer(message, payload):
    view.evaluate_javascript(
        "window.veltoNative?.resolve(%s, %s);" % (json.dumps(message["id"]), json.dumps(payload)), -1, None, None, None, None
    )


def finish():
    loop.quit()
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
            GLib.timeout_add(50, finish)
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


def on_message(_manager, result):
    body = json.loads(result.get_js_value().to_json(0))
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


manager.connect("script-message-received::velto", on_message)
window = Gtk.Window()
window.set_default_size(470, 770)
window.add(view)
window.show_all()
view.load_uri("velto://app/index.html")
GLib.timeout_add_seconds(60, finish)
loop.run()
print(json.dumps(seen))
sys.exit(0 if seen["messages"] else 1)
