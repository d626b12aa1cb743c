"""CPU of the app's whole process tree over SECONDS while a song plays, by process.
usage: idle.py MPD_SOCKET SECONDS -- APP COMMAND..."""
import collections
import sys
import time

import common

socket, seconds = sys.argv[1], float(sys.argv[2])
app = common.start(sys.argv[sys.argv.index("--") + 1:])
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
    total = sum(used.values())
    parts = ", ".join(f"{label} {100 * value / elapsed:.2f} %" for label, value in used.most_common())
    print(f"app/idle while a song plays: {100 * total / elapsed:.2f} % of one core over {elapsed:.0f} s "
          f"(target under 1 %): {parts}")
finally:
    common.stop(app)
