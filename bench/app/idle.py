"""CPU of the app's whole process tree over SECONDS while a song plays, by process.
usage: idle.py MPD_SOCKET SECONDS -- APP COMMAND...
With WHEELBOX_IDLE_BASELINE naming another build's installed wheelbox, that one is measured too,
in the same run and the same environment, and the ratios printed."""
import collections
import os
import sys
import time

import common

socket, seconds = sys.argv[1], float(sys.argv[2])
command = sys.argv[sys.argv.index("--") + 1:]


def measure(command):
    """Percent of one core by process name (and the script tool runs the app reaped), and the span."""
    app = common.start(command)
    try:
        if not common.wait_until(common.row_is_drawn, 60):
            sys.exit("idle: the device never showed")
        time.sleep(2)
        common.keys("Return", "Down", "Down", "Down", "Return")
        time.sleep(1.5)
        common.keys("Return")
        if not common.wait_until(lambda: common.mpd_playing(socket), 20):
            sys.exit("idle: nothing plays")
        time.sleep(5)

        def sample():
            values = {}
            for pid in common.tree(app.pid):
                try:
                    own, reaped = common.cpu_seconds(pid)
                except OSError:
                    continue
                values[(pid, common.name(pid))] = own
                if pid == app.pid:
                    values[(pid, "script tool runs")] = reaped
            return values

        before, started = sample(), time.monotonic()
        time.sleep(seconds)
        after, elapsed = sample(), time.monotonic() - started
        used = collections.Counter()
        for key, value in after.items():
            used[key[1]] += value - before.get(key, 0.0)
        return {label: 100 * value / elapsed for label, value in used.items()}, elapsed
    finally:
        common.stop(app)


def line(title, shares, elapsed):
    total = sum(shares.values())
    parts = ", ".join(f"{label} {share:.2f} %" for label, share in sorted(shares.items(), key=lambda p: -p[1]))
    return f"{title}: {total:.2f} % of one core over {elapsed:.0f} s (target under 1 %): {parts}"


now, elapsed = measure(command)
print(line("app/idle while a song plays", now, elapsed))
baseline = os.environ.get("WHEELBOX_IDLE_BASELINE")
if baseline:
    # The same environment (everything before the app's own path), another build's app.
    base, base_elapsed = measure(command[:-1] + [baseline])
    print(line("app/  baseline", base, base_elapsed))

    def ratio(a, b):
        return f"{a / b:.2f}x" if b > 0 else "n/a"

    parts = ", ".join(f"{label} {ratio(now.get(label, 0.0), share)}" for label, share in sorted(base.items(), key=lambda p: -p[1]))
    print(f"app/  against the baseline: whole tree {ratio(sum(now.values()), sum(base.values()))}: {parts}")
