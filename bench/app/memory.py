"""Memory of the app's processes with a large library browsed to its Songs list; MPD is not one of
them. Each process is read twice in the same run, at the first screen and once the Songs list has
settled, as RSS, PSS (shared pages split between the processes that map them) and private memory
(pages no other process maps). usage: memory.py MPD_SOCKET -- APP COMMAND..."""
import sys
import time

import common

FIELDS = ("Rss", "Pss", "Private")


def reading(pid):
    """RSS, PSS and private memory of one process in MB, from /proc/PID/smaps_rollup."""
    kb = dict.fromkeys(FIELDS, 0)
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            for line in rollup:
                key, _, rest = line.partition(":")
                if key in ("Rss", "Pss"):
                    kb[key] = int(rest.split()[0])
                elif key in ("Private_Clean", "Private_Dirty"):
                    kb["Private"] += int(rest.split()[0])
    except OSError:
        pass
    return {field: value / 1024 for field, value in kb.items()}


def readings(root):
    return {pid: (common.name(pid), reading(pid)) for pid in common.tree(root)}


def settled(root, timeout):
    """Readings once the tree's PSS has moved less than 1 MB in a second."""
    last = -1.0
    for _ in range(timeout):
        time.sleep(1)
        now = readings(root)
        total = sum(r["Pss"] for _, r in now.values())
        if abs(total - last) < 1:
            return now
        last = total
    return now


def report(label, parts):
    total = {field: sum(r[field] for _, r in parts.values()) for field in FIELDS}
    print(f"app/memory, {label}: " + ", ".join(f"{field} {total[field]:.0f} MB" for field in FIELDS))
    for name, r in sorted(parts.values(), key=lambda part: -part[1]["Pss"]):
        print(f"app/memory,   {name:<16} " + ", ".join(f"{field} {r[field]:6.1f} MB" for field in FIELDS))
    return total


app = common.start(sys.argv[sys.argv.index("--") + 1:])
try:
    if not common.wait_until(common.row_is_drawn, 60):
        sys.exit("memory: the device never showed")
    first = report("first screen", settled(app.pid, 30))
    common.keys("Return", "Down", "Down", "Down", "Return")
    # The list arrives within seconds; memory is read once it has settled.
    shown = report("100,000 songs, Songs list shown", settled(app.pid, 60))
    print(f"app/resident memory with 100,000 songs, Songs list shown: RSS {shown['Rss']:.0f} MB, "
          f"PSS {shown['Pss']:.0f} MB in all (target under 150 MB); PSS {shown['Pss'] / first['Pss']:.2f}x "
          f"the first screen's")
finally:
    common.stop(app)
