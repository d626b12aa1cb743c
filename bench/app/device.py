"""wheelbox-device driven over its standard input, for the benchmarks that need the device window
over the real bridge: commands out, its lines back, each wait with a deadline."""
import json
import os
import select
import subprocess
import sys
import time


class Device:
    def __init__(self, command, data, name):
        self.name = name
        self.process = subprocess.Popen(command + ["--data", data], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True, bufsize=1, start_new_session=True)

    def line_until(self, predicate, timeout):
        """The first line of the device's output that satisfies `predicate`, within `timeout` seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], max(0.0, deadline - time.monotonic()))
            if not ready:
                break
            line = self.process.stdout.readline()
            if not line:
                break
            if predicate(line.rstrip("\n")):
                return line.rstrip("\n")
        sys.exit(f"{self.name}: the device did not answer in time")

    def send(self, text):
        self.process.stdin.write(text + "\n")
        self.process.stdin.flush()

    def query(self, script):
        """The value of `script` in the page (one line of it: the device reads commands by line)."""
        self.send("query " + " ".join(script.split()))
        line = self.line_until(lambda line: line.startswith("result ") or line.startswith("error: "), 60)
        if line.startswith("error: "):
            sys.exit(f"{self.name}: {line}")
        return json.loads(line[len("result "):])

    def close(self):
        try:
            self.process.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(self.process.pid, 9)
            self.process.wait()
