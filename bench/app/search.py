"""Keystroke to updated rows on the search screen: wheelbox-device over the real bridge and back end,
its MPD serving a large library. Each key is typed into the query and timed in the page, from the
key's event to the first frame after the search's answer arrived; a "getSettings" round trip is
timed the same way, in the same run, as the floor of any answer from the native side.
usage: search.py KEYS -- DEVICE COMMAND..."""
import json
import os
import select
import statistics
import subprocess
import sys
import time

# Every answer the page receives, with the time it arrived and the time of the frame after it.
HOOK = """(() => {
  const bench = (window.__bench = { answers: [] });
  const resolve = window.veltoNative.resolve;
  window.veltoNative.resolve = (id, payload) => {
    const result = resolve(id, payload);
    const at = performance.now();
    requestAnimationFrame(() => bench.answers.push({ id: String(id), at, frame: performance.now() }));
    return result;
  };
})()"""


class Device:
    def __init__(self, command):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, bufsize=1, start_new_session=True)
        self.buffer = ""

    def line(self, deadline):
        while "\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0 or self.process.poll() is not None:
                return None
            ready, _, _ = select.select([self.process.stdout], [], [], left)
            if ready:
                chunk = os.read(self.process.stdout.fileno(), 65536).decode()
                if not chunk:
                    return None
                self.buffer += chunk
        line, self.buffer = self.buffer.split("\n", 1)
        return line

    def wait_for(self, text, timeout):
        deadline = time.monotonic() + timeout
        while (line := self.line(deadline)) is not None:
            if line == text:
                return
        sys.exit(f"app/search: no {text!r} within {timeout} s")

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def query(self, script, timeout=10):
        self.send("query " + script.replace("\n", " "))
        deadline = time.monotonic() + timeout
        while (line := self.line(deadline)) is not None:
            if line.startswith("result "):
                return json.loads(line[len("result "):])
            if line.startswith("error"):
                sys.exit(f"app/search: {line}")
        sys.exit("app/search: no answer to a query")

    def until(self, script, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            value = self.query(script)
            if value:
                return value
            time.sleep(0.02)
        sys.exit(f"app/search: still false after {timeout} s: {script}")

    def quit(self):
        self.send("quit")
        try:
            self.process.wait(15)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, 9)
            self.process.wait()


def key(name):
    return f"window.dispatchEvent(new KeyboardEvent('keydown', {{ key: {json.dumps(name)} }}))"


def timed(device, action):
    """Milliseconds from `action` (a script) to the frame after the next answer."""
    device.query(f"(() => {{ window.__bench.answers = []; window.__bench.start = performance.now(); {action}; }})()")
    return device.until("window.__bench.answers.length ? window.__bench.answers[0].frame - window.__bench.start : 0")


def main():
    separator = sys.argv.index("--")
    keys = sys.argv[1]
    device = Device(sys.argv[separator + 1:])
    try:
        device.wait_for("message ready", 90)
        device.query(HOOK)
        title = "document.getElementById('status-title').textContent"
        device.query(key("Enter"))
        device.until(f"{title} === 'Music' && document.querySelectorAll('#pages .page:last-child .row:not([hidden])').length > 5", 120)
        device.query(key("End"))
        device.query(key("Enter"))
        device.until(f"{title} === 'Search'")
        # A first search reads the library when nothing has yet.
        timed(device, key(" "))
        timed(device, key("Backspace"))
        typing = [timed(device, key(character)) for character in keys]
        floor = [timed(device, "webkit.messageHandlers.velto.postMessage({ method: 'getSettings', version: 1, "
                               f"id: 'bench-{i}', params: {{}} }})") for i in range(len(keys))]
        rows = device.query("document.querySelectorAll('#pages .page:last-child .search-matches .row:not([hidden])').length")
    finally:
        device.quit()
    median = statistics.median(typing)
    print(f"app/search: keystroke to updated rows, {len(keys)} keys typed ({keys!r}): median {median:.1f} ms, "
          f"slowest {max(typing):.1f} ms (target 100 ms: {median / 100:.2f}x); "
          f"{median / statistics.median(floor):.2f}x a getSettings round trip; {rows} rows shown")
    print("app/search: each key, ms: " + ", ".join(f"{k!r} {t:.0f}" for k, t in zip(keys, typing)))


if __name__ == "__main__":
    main()
