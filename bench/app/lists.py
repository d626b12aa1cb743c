"""Songs lists of 100,000 and 300,000 songs in the device window over the real bridge and back end
(wheelbox-device), each size on an MPD of its own, against WebKitGTK's own JSON.parse and paint of
the whole list in the same page and run:
  - key press on "Songs" to its rows painted (its keydown reaching the page to the end of the first
    frame that shows rows), five rounds, against parsing the whole list's answer text and painting a
    screenful of its rows; and apart, the key press to the rows in the page, and the paint of a
    screen change that asks the native side nothing (back to Music), which is WebKitGTK's share;
  - at 300,000 songs, a spin at the wheel's fastest (one step a frame) to the end of the list: the
    longest step, the longest frame, and the rows shown blank.
usage: lists.py SOCKET_100K SOCKET_300K -- DEVICE COMMAND..."""
import json
import queue
import statistics
import subprocess
import sys
import threading
import time

import common

# Rounds of each measurement, after one round that is not counted (the first page change after the
# start costs WebKitGTK more).
ROUNDS = 5


class Device:
    """wheelbox-device with its commands on standard input and its lines on standard output."""

    def __init__(self, command, socket):
        # The command starts with env and its variables: the MPD of this size is one of them.
        command = [f"MPD_HOST={socket}" if part.startswith("MPD_HOST=") else part for part in command]
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, start_new_session=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.rstrip("\n"))

    def wait_line(self, prefix, timeout):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                line = self.lines.get(timeout=max(0.01, deadline - time.monotonic()))
            except queue.Empty:
                break
            if line.startswith(prefix):
                return line
        raise TimeoutError(f"no line starting {prefix!r} within {timeout} s")

    def send(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()

    def query(self, script, timeout=10):
        self.send("query " + " ".join(script.split("\n")))
        line = self.wait_line(("result ", "error"), timeout)
        if line.startswith("error"):
            raise RuntimeError(line)
        return json.loads(line[len("result "):])

    def until(self, script, timeout, step=0.02):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.query(script)
            if value:
                return value
            time.sleep(step)
        raise TimeoutError(f"never true within {timeout} s: {script[:80]}")

    def stop(self):
        common.stop(self.process)


SCREEN = ("(() => { const page = [...document.querySelectorAll('#pages .page')].at(-1);"
          " const selected = page?.querySelector('.row.selected .row-title')?.textContent ?? null;"
          " const first = page?.querySelector('.row:not([hidden]) .row-title')?.textContent ?? null;"
          " return { title: document.getElementById('status-title').textContent,"
          " loading: Boolean(page?.querySelector('.loading:not([hidden])')), selected, first }; })()")

# For the next Enter or Escape: when its keydown reached the page, when the screen it leads to had
# rows in the page (for Songs, the firmware's mark), and the end of the first frame that showed
# them. Times are the page's own (the event's time stamp is on another clock in WebKitGTK).
PROBE = """(() => {
  const bench = (window.__bench = { ...window.__bench, key: null, rows: null, painted: null });
  const shown = (title) => {
    const page = [...document.querySelectorAll('#pages .page')].at(-1);
    return document.getElementById('status-title').textContent === title && page?.dataset.kind === 'list' &&
      Boolean(page.querySelector('.row:not([hidden]) .row-title')?.textContent);
  };
  addEventListener('keydown', (event) => {
    if (event.key !== 'Enter' && event.key !== 'Escape') return;
    bench.key = performance.now();
    const title = event.key === 'Enter' ? 'Songs' : 'Music';
    const tick = () => {
      if (shown(title)) {
        bench.rows = performance.getEntriesByName('wheelbox:list-shown').at(-1)?.startTime ?? performance.now();
        setTimeout(() => (bench.painted = performance.now()), 0);
      } else {
        requestAnimationFrame(tick);
      }
    };
    performance.clearMarks('wheelbox:list-shown');
    requestAnimationFrame(tick);
  }, { capture: true, once: true });
  return true;
})()"""

def answer_into(field, method, params):
    """A script that sends a request of the page's own and keeps its answer in window.__bench[field],
    as text (large answers come as text), before the firmware sees it."""
    return f"""(() => {{
  window.__bench.{field} = null;
  const id = 'bench-{field}';
  const resolve = window.veltoNative.resolve;
  window.veltoNative.resolve = (answered, payload) => {{
    if (answered !== id) return resolve(answered, payload);
    window.__bench.{field} = typeof payload === 'string' ? payload : JSON.stringify(payload);
    window.veltoNative.resolve = resolve;
    return true;
  }};
  window.webkit.messageHandlers.velto.postMessage({{ method: '{method}', version: 1, id, params: {json.dumps(params)} }});
  return true;
}})()"""


# The library read again, as Refresh Library does: the read a minute-old library gets on the next
# request is then behind the measurements, not inside one.
READ_AGAIN = answer_into("read", "refreshLibrary", {"path": "music"})
# The whole list's answer as the page receives it.
FETCH_WHOLE = answer_into("text", "getList", {"path": "music/songs"})

# WebKitGTK's own work on that text: JSON.parse, a screenful of rows written, painted.
PARSE_AND_PAINT = """(() => {
  window.__bench.parsed = null;
  window.__bench.baseline = null;
  const overlay = document.createElement('div');
  overlay.style.cssText = 'position:fixed;left:60px;top:60px;width:300px;z-index:99;background:#fff;font:14px sans-serif';
  const rows = Array.from({ length: 9 }, () => overlay.appendChild(document.createElement('div')));
  document.body.appendChild(overlay);
  const t0 = performance.now();
  const list = JSON.parse(window.__bench.text).result;
  window.__bench.parsed = performance.now() - t0;
  rows.forEach((row, i) => (row.textContent = list.items[i].title));
  requestAnimationFrame(() => setTimeout(() => {
    window.__bench.baseline = performance.now() - t0;
    overlay.remove();
  }, 0));
  return list.items.length;
})()"""

# One wheel step a frame down the list to its end; each frame's rows are read right after its step.
SPIN = """(() => {
  window.__bench.spin = null;
  const steps = [];
  const frames = [];
  let blankRows = 0;
  let last = null;
  const frame = (now) => {
    if (last !== null) frames.push(now - last);
    last = now;
    const s0 = performance.now();
    window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown', repeat: true }));
    const rows = [...document.querySelectorAll('#pages .page:last-child .row:not([hidden]) .row-title')];
    steps.push(performance.now() - s0);
    blankRows += rows.filter((row) => row.textContent === '').length;
    const selected = Number(document.querySelector('#pages .page:last-child .row.selected')?.dataset.index);
    if (selected === window.__bench.count - 1 || performance.now() > window.__bench.until) {
      steps.sort((a, b) => a - b);
      frames.sort((a, b) => a - b);
      window.__bench.spin = { steps: steps.length, reachedEnd: selected === window.__bench.count - 1, reached: selected, blankRows,
        stepMedianMs: steps[steps.length >> 1], stepMaxMs: steps.at(-1),
        frameMedianMs: frames[frames.length >> 1], frameMaxMs: frames.at(-1) };
    } else {
      requestAnimationFrame(frame);
    }
  };
  requestAnimationFrame(frame);
  return true;
})()"""


def measure(command, socket, songs, spin):
    device = Device(command, socket)
    try:
        device.wait_line("message ready", 60)
        device.until(f"({SCREEN}).title === 'Wheelbox'", 60)
        window = common.device_window()
        subprocess.run(["xdotool", "windowfocus", "--sync", window], check=False)
        key = lambda name: subprocess.run(["xdotool", "key", name], check=False)  # noqa: E731
        key("Return")  # Music: the library is read now
        device.until(f"(() => {{ const s = {SCREEN}; return s.title === 'Music' && !s.loading; }})()", 600)
        loaded = time.monotonic()
        for _ in range(3):
            key("Down")
        device.until(f"({SCREEN}).selected === 'Songs'", 10)
        device.query("window.__bench = {}")
        result = {"songs": songs, "rowsMs": [], "paintedMs": [], "backMs": []}
        if spin:
            # Before the library's own read comes again after a minute, which would stall it.
            key("Return")
            device.until(f"({SCREEN}).first", 10)
            left = 50 - (time.monotonic() - loaded)
            device.query(f"window.__bench.count = {songs}; window.__bench.until = performance.now() + {left * 1000:.0f}")
            device.query(SPIN)
            result["spin"] = device.until("window.__bench.spin", 120)
            result["spin"]["seconds"] = time.monotonic() - loaded
            key("Escape")
            device.until(f"({SCREEN}).selected === 'Songs'", 10)
            device.query(READ_AGAIN)
            device.until("window.__bench.read !== null", 600)
        for round in range(ROUNDS + 1):
            for name, painted in (("Return", "paintedMs"), ("Escape", "backMs")):
                device.query(PROBE)
                key(name)
                device.until("window.__bench.painted !== null", 60)
                bench = device.query("window.__bench")
                if round == 0:
                    continue
                result[painted].append(bench["painted"] - bench["key"])
                if name == "Return":
                    result["rowsMs"].append(bench["rows"] - bench["key"])
        device.query(FETCH_WHOLE)
        device.until("window.__bench.text !== null", 300)
        result["parseMs"], result["baselineMs"] = [], []
        for _ in range(ROUNDS):
            device.query(PARSE_AND_PAINT, timeout=60)
            device.until("window.__bench.baseline !== null", 60)
            bench = device.query("window.__bench")
            result["parseMs"].append(bench["parsed"])
            result["baselineMs"].append(bench["baseline"])
        return result
    finally:
        device.stop()


def main():
    split = sys.argv.index("--")
    sockets, command = sys.argv[1:split], sys.argv[split + 1:]
    results = [measure(command, socket, songs, spin=songs == 300_000)
               for socket, songs in zip(sockets, (100_000, 300_000))]
    median = statistics.median
    rounds = lambda values: ", ".join(f"{v:.0f}" for v in values)  # noqa: E731
    for r in results:
        painted, rows, back = median(r["paintedMs"]), median(r["rowsMs"]), median(r["backMs"])
        baseline, parse = median(r["baselineMs"]), median(r["parseMs"])
        print(f"app/Songs at {r['songs']:,}: key press to rows painted {painted:.0f} ms (rounds {rounds(r['paintedMs'])}); "
              f"WebKitGTK's JSON.parse and paint of the whole list {baseline:.0f} ms: {painted / baseline:.2f}x "
              f"(target 0.5x)")
        print(f"app/  of which key press to the rows in the page {rows:.1f} ms (rounds {rounds(r['rowsMs'])}), "
              f"{rows / parse:.3f}x JSON.parse alone ({parse:.0f} ms); the rest is WebKitGTK's frame: a screen change "
              f"that asks nothing (back to Music) took {back:.0f} ms to paint ({rounds(r['backMs'])})")
    small, large = results
    print(f"app/Songs at 300,000 against 100,000: rows painted {median(large['paintedMs']) / median(small['paintedMs']):.2f}x, "
          f"rows in the page {median(large['rowsMs']) / median(small['rowsMs']):.2f}x (target within 1.2x)")
    spin = large["spin"]
    print(f"app/spin at full speed through 300,000 rows: {spin['steps']} steps to row {spin['reached']:,} "
          f"(end reached: {spin['reachedEnd']}) within {spin['seconds']:.0f} s of the library's read, blank rows "
          f"shown: {spin['blankRows']}; step median {spin['stepMedianMs']:.2f} ms, longest {spin['stepMaxMs']:.2f} ms "
          f"(target 16 ms); frames median {spin['frameMedianMs']:.0f} ms, longest {spin['frameMaxMs']:.0f} ms")


main()
