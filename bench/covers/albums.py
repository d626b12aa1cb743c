#!/usr/bin/env python3
"""Each wheel step in a 30,000-album list with covers, in WebKitGTK over the velto scheme (the
firmware's harness, tests/firmware/webkit/velto.py, serves the cover entries). Two spells: steps over
rows whose covers have loaded, and a spin through rows never shown. Prints one JSON object.
With --plain the rows carry no cover, as a native side without covers sends them: the same list to
measure against, in the same run.

    albums.py FIRMWARE_DIR [ALBUMS] [--plain]      run under X (Xvfb)"""

import json
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "firmware", "webkit"))
from velto import GLib, VeltoView  # noqa: E402

ROOT = sys.argv[1]
ALBUMS = int(sys.argv[2]) if len(sys.argv) > 2 and sys.argv[2].isdigit() else 30000
PLAIN = "--plain" in sys.argv[2:]
loop = GLib.MainLoop()
figures = {"albums": ALBUMS}


def row(path, title):
    return {"id": path, "title": title, "kind": "container", "hasChildren": True, "playable": False}


def on_message(body):
    method = body.get("method")
    path = body.get("params", {}).get("path")
    if method == "ready":
        view.answer(body, {"result": {"bridgeVersion": 1, "transport": "music", "volume": 50.0, "nowPlaying": None}})
        GLib.timeout_add(1500, lambda: view.key("Enter") and False)
    elif method == "getList" and path == "music":
        view.answer(body, {"result": {"id": "music", "title": "Music", "items": [row("music/albums", "Albums")]}})
        GLib.timeout_add(1500, lambda: view.key("Enter") and False)
    elif method == "getList" and path == "music/albums":
        items = []
        for i in range(ALBUMS):
            key = "%016X" % (0x200000 + i)
            item = row("music/albums/" + key, "Album %05d" % (i + 1))
            item["artist"] = "Artist %d" % (i % 97)
            if not PLAIN:
                item["artwork"] = "velto://app/artwork/%s-64" % key
            items.append(item)
        view.answer(body, {"result": {"id": "music/albums", "title": "Albums", "items": items}})
        GLib.timeout_add(3000, measure)
    elif method != "haptic":
        view.answer(body, {})


STEPS = """(async () => {
  const rest = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
  const time = async (keys) => {
    const steps = [];
    // WebKit tells time to the millisecond: ten steps timed together give the mean a finer grain.
    let total = 0;
    let batch = performance.now();
    for (let i = 0; i < keys.length; i++) {
      const s0 = performance.now();
      window.dispatchEvent(new KeyboardEvent('keydown', { key: keys[i] }));
      document.querySelector('#pages .page:last-child .row.selected')?.getBoundingClientRect();
      steps.push(performance.now() - s0);
      if (i % 10 === 9) {
        total += performance.now() - batch;
        await rest(0);
        batch = performance.now();
      }
    }
    steps.sort((a, b) => a - b);
    const at = (q) => steps[Math.min(steps.length - 1, Math.floor(q * steps.length))];
    return { mean: total / keys.length, median: at(0.5), p95: at(0.95), max: steps[steps.length - 1],
             over16: steps.filter((s) => s > 16).length };
  };
  for (let i = 0; i < 60; i++) {
    window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
    await rest(200);
  }
  const known = await time(Array.from({ length: 300 }, (_, i) => (Math.floor(i / 60) % 2 ? 'ArrowDown' : 'ArrowUp')));
  const unseen = await time(Array.from({ length: 300 }, () => 'ArrowDown'));
  await rest(600);
  return { title: document.getElementById('status-title').textContent,
           coversShown: document.querySelectorAll('#pages .page:last-child .row-art.loaded').length,
           known, unseen, errors: window.__errors };
})()"""


def measure():
    def done(_source, result):
        try:
            value = view.view.evaluate_javascript_finish(result)
            figures.update(json.loads(value.to_json(0)))
        except GLib.Error as error:
            figures["error"] = error.message
        loop.quit()

    # Awaits the promise the script returns.
    view.view.call_async_javascript_function("return await " + STEPS + ";", -1, None, None, None, None, done)
    return False


view = VeltoView(ROOT, on_message)
view.load()
GLib.timeout_add_seconds(120, loop.quit)
loop.run()
print(json.dumps(figures))
sys.exit(0 if "known" in figures else 1)
