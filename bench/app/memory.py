"""Resident memory of the app's processes with a large library browsed to its Songs list; MPD is not
one of them. usage: memory.py MPD_SOCKET -- APP COMMAND..."""
import sys
import time

import common

app = common.start(sys.argv[sys.argv.index("--") + 1:])
try:
    if not common.wait_until(common.row_is_drawn, 60):
        sys.exit("memory: the device never showed")
    time.sleep(2)
    common.keys("Return", "Down", "Down", "Down", "Return")
    # The list arrives within seconds; memory is read once it has settled.
    last = 0.0
    for _ in range(60):
        time.sleep(1)
        now = sum(common.resident_mb(pid) for pid in common.tree(app.pid))
        if abs(now - last) < 1 and now > 0:
            break
        last = now
    parts = {f"{common.name(pid)}": common.resident_mb(pid) for pid in common.tree(app.pid)}
    total = sum(parts.values())
    print(f"app/resident memory with 100,000 songs, Songs list shown: {total:.0f} MB in all (target under "
          f"150 MB): " + ", ".join(f"{k} {v:.0f} MB" for k, v in sorted(parts.items(), key=lambda i: -i[1])))
finally:
    common.stop(app)
