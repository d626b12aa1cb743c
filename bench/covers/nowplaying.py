#!/usr/bin/env python3
"""How long a new track's cover takes to be on screen against how long its title takes, in
wheelbox-device over the real bridge and back end, against an MPD whose songs each have an album
of their own and an embedded cover of about 500 KB, with an empty cover cache: every skip meets an
album whose cover was never read.

    nowplaying.py DEVICE MPD_SOCKET SKIPS      run under X (Xvfb); prints one JSON object

Each skip is the device's forward button (a key tap); inside the page a MutationObserver notes when
Now Playing's title changes and when its cover is shown (loaded), and each counts as on screen at
the first frame drawn after that change."""

import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

device, socket, skips = sys.argv[1], sys.argv[2], int(sys.argv[3])

OBSERVE = """(() => {
  const page = () => [...document.querySelectorAll('#pages .page')].at(-1);
  const title = () => page()?.querySelector('.np-title')?.textContent ?? null;
  const cover = () => page()?.querySelector('.np-cover.shown')?.getAttribute('src') ?? null;
  const bench = (window.__bench = { marks: [], t0: 0 });
  const push = window.veltoNative.nowPlaying.bind(window.veltoNative);
  window.veltoNative.nowPlaying = (reading) => {
    bench.marks.push({ kind: 'push', at: performance.now(), title: reading?.title, artwork: reading?.artwork });
    return push(reading);
  };
  let lastTitle = title(), lastCover = cover();
  new MutationObserver(() => {
    const now = performance.now();
    const t = title(), c = cover();
    /* On screen: the first frame drawn after the change. */
    const mark = (entry) => {
      bench.marks.push(entry);
      requestAnimationFrame(() => (entry.frame = performance.now()));
    };
    if (t !== lastTitle) { lastTitle = t; mark({ kind: 'title', at: now, text: t }); }
    if (c !== lastCover) { lastCover = c; if (c) mark({ kind: 'cover', at: now, src: c }); }
  }).observe(document.getElementById('pages'), { subtree: true, childList: true, characterData: true,
                                                attributes: true, attributeFilter: ['class', 'src'] });
  return true;
})()"""

SKIP = """(() => {
  window.__bench.marks = [];
  window.__bench.t0 = performance.now();
  window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowRight' }));
  window.dispatchEvent(new KeyboardEvent('keyup', { key: 'ArrowRight' }));
  return true;
})()"""

RESULT = """(() => {
  const { marks, t0 } = window.__bench;
  const first = (kind) => marks.find((m) => m.kind === kind);
  const title = first('title'), cover = first('cover');
  const drawn = (mark) => (mark && mark.frame !== undefined ? mark.frame - t0 : null);
  return { title: drawn(title), cover: drawn(cover), titleChanged: title ? title.at - t0 : null,
           coverChanged: cover ? cover.at - t0 : null, text: title?.text ?? null,
           pushes: marks.filter((m) => m.kind === 'push').map((m) => [Math.round(m.at - t0), m.title, m.artwork]) };
})()"""

TO_NOW_PLAYING = """(() => {
  for (let i = 0; i < 8; i++) {
    const selected = document.querySelector('#pages .page:last-child .row.selected .row-title');
    if (selected && selected.textContent === 'Now Playing') break;
    window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
    window.dispatchEvent(new KeyboardEvent('keyup', { key: 'ArrowDown' }));
  }
  window.dispatchEvent(new KeyboardEvent('keydown', { key: 'Enter' }));
  window.dispatchEvent(new KeyboardEvent('keyup', { key: 'Enter' }));
  return document.getElementById('status-title').textContent;
})()"""


class Device:
    def __init__(self, data):
        env = dict(os.environ, MPD_HOST=socket, NO_AT_BRIDGE="1", LIBGL_ALWAYS_SOFTWARE="1",
                   DBUS_SESSION_BUS_ADDRESS="disabled:")
        env.pop("MPD_PORT", None)
        log = open(os.environ.get("WHEELBOX_BENCH_LOG", os.devnull), "w")
        self.process = subprocess.Popen([device, "--data", data], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=log, env=env, text=True, bufsize=1)
        # A thread of its own reads the lines, so none waits in a buffer a select cannot see.
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def line(self, timeout):
        try:
            return self.lines.get(timeout=max(timeout, 0.001))
        except queue.Empty:
            return None

    def wait_for(self, text, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.line(deadline - time.monotonic()) == text:
                return True
        return False

    def query(self, script):
        self.process.stdin.write("query " + " ".join(script.split("\n")) + "\n")
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            line = self.line(deadline - time.monotonic())
            if line is None:
                break
            if line.startswith("result "):
                return json.loads(line[len("result "):])
            if line.startswith("error:"):
                raise RuntimeError(line)
        raise RuntimeError("no answer to a query")

    def quit(self):
        try:
            self.process.stdin.write("quit\n")
            self.process.stdin.flush()
            self.process.wait(15)
        except Exception:
            self.process.kill()
            self.process.wait()


def mpc(*arguments):
    subprocess.run(["mpc", "-q", *arguments], check=True, env=dict(os.environ, MPD_HOST=socket))


data = tempfile.mkdtemp(prefix="wb-coverbench.")
figures = {"skips": []}
device_ = Device(data)
try:
    if not device_.wait_for("message ready", 60):
        sys.exit("nowplaying: the device never said ready")
    mpc("clear")
    mpc("add", "/")
    mpc("play", "1")
    time.sleep(1.5)
    figures["screen"] = device_.query(TO_NOW_PLAYING)
    time.sleep(3)
    device_.query(OBSERVE)
    for _ in range(skips):
        device_.query(SKIP)
        deadline = time.monotonic() + 15
        result = None
        while time.monotonic() < deadline:
            result = device_.query(RESULT)
            if result["title"] is not None and result["cover"] is not None:
                break
            time.sleep(0.05)
        figures["skips"].append(result)
        # Let the fade end and a poll or two pass before the next skip.
        time.sleep(1.5)
finally:
    device_.quit()
    shutil.rmtree(data, ignore_errors=True)
print(json.dumps(figures))
