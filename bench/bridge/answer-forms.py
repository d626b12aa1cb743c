#!/usr/bin/env python3
"""Times, in a real WebKitGTK web view, an answer from its evaluation until the page holds the
object, for the payload written as a JavaScript object literal, as JSON.parse of a string literal,
and passed as a string argument of a function that parses it (as the bridge hands large answers),
at several list sizes (the arguments; medians of RUNS runs, default 3). Titles mix several scripts,
as real libraries do; ASCII=1 keeps them ASCII. Prints one JSON object:
{"rows": {N: {"literalMs": .., "parseMs": .., "argumentMs": .., "bytes": <the literal line's size>}}}.
Run it under a display: xvfb-run -a /usr/bin/python3 bench/bridge/answer-forms.py 1000 100000"""

import json
import os
import statistics
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import GLib, Gtk, WebKit2  # noqa: E402

SIZES = [int(n) for n in sys.argv[1:]] or [10, 100, 1000, 10000, 100000]
RUNS = int(os.environ.get("RUNS", "3"))

PAGE = """<!doctype html><script>
window.veltoNative = { resolve(id, payload) { window.held = payload; } };
</script>"""


def rows(count):
    # Song rows as the library lists them, with titles in several scripts.
    names = ["Song"] if os.environ.get("ASCII") else ["Song", "Chanson d’été", "Пісня", "歌", "Ελληνικά \"quoted\""]
    return [
        {
            "id": "music-track:%016X" % (0x9E3779B97F4A7C15 * (i + 1) % (1 << 64)),
            "title": "%s %06d" % (names[i % len(names)], i + 1),
            "subtitle": "Artist %d" % (i % 997),
            "kind": "track",
            "hasChildren": False,
            "playable": True,
        }
        for i in range(count)
    ]


def lines(count, serial):
    payload = json.dumps(
        {"result": {"id": "music/songs", "title": "Songs", "items": rows(count)}},
        separators=(",", ":"),
        ensure_ascii=False,
    )
    literal = 'window.veltoNative?.resolve("%s", %s);' % (serial, payload)
    parsed = 'window.veltoNative?.resolve("%s", JSON.parse(%s));' % (serial, json.dumps(payload, ensure_ascii=False))
    argument = GLib.Variant("a{sv}", {"id": GLib.Variant("s", json.dumps(serial)), "payload": GLib.Variant("s", payload)})
    return literal, parsed, argument


# The bridge's function for large answers.
RESOLVE_BODY = "window.veltoNative?.resolve(JSON.parse(id), JSON.parse(payload));"


view = WebKit2.WebView()
window = Gtk.Window()
window.add(view)
window.show_all()
loop = GLib.MainLoop()
results = {}
plan = []


def evaluate(script, then):
    started = GLib.get_monotonic_time()

    def done(source, result):
        try:
            view.evaluate_javascript_finish(result)
        except GLib.Error as error:
            print(error.message, file=sys.stderr)
            loop.quit()
            return
        then((GLib.get_monotonic_time() - started) / 1000)

    view.evaluate_javascript(script, -1, None, None, None, done)


def call(arguments, then):
    started = GLib.get_monotonic_time()

    def done(source, result):
        try:
            view.call_async_javascript_function_finish(result)
        except GLib.Error as error:
            print(error.message, file=sys.stderr)
            loop.quit()
            return
        then((GLib.get_monotonic_time() - started) / 1000)

    body = RESOLVE_BODY + " return window.held.result.items.length;"
    view.call_async_javascript_function(body, -1, arguments, None, None, None, done)


def step():
    if not plan:
        loop.quit()
        return False
    count, form, script = plan.pop(0)
    entry = results.setdefault(str(count), {"bytes": 0, "literal": [], "parse": [], "argument": []})
    if form == "literal":
        entry["bytes"] = len(script.encode())

    def measured(ms):
        entry[form].append(ms)
        evaluate("window.held = null;", lambda _: GLib.idle_add(step))

    # Each form ends by reading back what the page holds, so completion means the object is there.
    if form == "argument":
        call(script, measured)
    else:
        evaluate(script + " window.held.result.items.length", measured)
    return False


def loaded(_view, event):
    if event != WebKit2.LoadEvent.FINISHED:
        return
    # Every line differs (its id), as real answers do: JavaScriptCore caches the code of a script it
    # has seen, and a repeated line would measure that cache.
    for count in SIZES:
        for run in range(RUNS):
            literal, parsed, argument = lines(count, "r%d-%d" % (count, run))
            plan.append((count, "literal", literal))
            plan.append((count, "parse", parsed))
            plan.append((count, "argument", argument))
    GLib.idle_add(step)


view.connect("load-changed", loaded)
view.load_html(PAGE, None)
GLib.timeout_add_seconds(600, loop.quit)
loop.run()
summary = {
    count: {
        "bytes": entry["bytes"],
        "literalMs": round(statistics.median(entry["literal"]), 2),
        "parseMs": round(statistics.median(entry["parse"]), 2),
        "argumentMs": round(statistics.median(entry["argument"]), 2),
    }
    for count, entry in results.items()
}
print(json.dumps({"rows": summary}))
