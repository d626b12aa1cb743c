"""Memory with a 100,000-song library: PSS of each subject's whole process tree (shared pages split
between the processes that map them; MPD and the X server are not part of it), in rounds of the
same run, with ratios to the floor (a bare WebKitGTK window changing one word a second). The app is
read at its first screen and once its Songs list has settled; the clients at the screen they open
on, connected to the same MPD; the floor as it is.
usage: memory.py MPD_SOCKET MPD_PORT MUSIC_DIR ROUNDS HOME -- APP COMMAND...
WHEELBOX_BENCH_BASELINE_APP names another build's installed wheelbox, measured the same way;
WHEELBOX_BENCH_PEERS as for idle.py."""
import collections
import os
import shutil
import statistics
import sys
import time

import common
import subjects

socket, port, music, rounds, home = sys.argv[1:6]
rounds = int(rounds)
command = sys.argv[sys.argv.index("--") + 1:]
mpd = subjects.Mpd(socket, port, music)


def readings(root):
    return {pid: (common.name(pid), common.proportional_mb(pid)) for pid in common.tree(root)}


def settled(root, timeout):
    """Readings once the tree's PSS has moved less than 1 MB in two seconds."""
    last, now = -1.0, {}
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        time.sleep(2)
        now = readings(root)
        total = sum(mb for _, mb in now.values())
        if abs(total - last) < 1:
            break
        last = total
    return now


def app_parts(name, parts):
    """Where the app process's own PSS lies; its smaps kept beside the screenshots, to be read."""
    for pid, (process, _) in parts.items():
        if not process.startswith("wheelbox"):
            continue
        folder = os.environ.get("WHEELBOX_BENCH_SHOTS")
        if folder:
            os.makedirs(folder, exist_ok=True)
            shutil.copyfile(f"/proc/{pid}/smaps", f"{folder}/{name}-{process}-smaps.txt")
        kinds = sorted(common.proportional_parts(pid).items(), key=lambda item: -item[1])
        print(f"app/memory   {name}, {process} by mapping: " + ", ".join(f"{k} {mb:.1f}" for k, mb in kinds), flush=True)


def measure(subject):
    subject.start()
    try:
        if not subject.browse(mpd):
            print(f"app/memory: {subject.name} never showed; left out of this round", flush=True)
            return None
        parts = settled(subject.process.pid, 90)
        if isinstance(subject, subjects.App):
            app_parts(subject.name, parts)
        return parts
    finally:
        subject.stop()


def describe(parts):
    by_name = collections.Counter()
    for name, mb in parts.values():
        by_name[name] += mb
    return f"{sum(by_name.values()):.0f} MB (" + ", ".join(f"{n} {mb:.0f}" for n, mb in by_name.most_common()) + ")"


roster = subjects.roster(command, home, mpd, "memory")

figures = collections.defaultdict(list)  # name -> [(tree PSS, ratio to the floor, app process alone)]
for round_number in range(1, rounds + 1):
    results = {}
    for subject in roster:
        parts = measure(subject)
        if parts:
            results[subject.name] = parts
            print(f"app/memory round {round_number}, {subject.name}: PSS {describe(parts)}", flush=True)
    floor_total = sum(mb for _, mb in results["floor"].values()) if "floor" in results else None
    for name, parts in results.items():
        total = sum(mb for _, mb in parts.values())
        alone = max((mb for pid, (n, mb) in parts.items() if n.startswith("wheelbox")), default=0.0)
        figures[name].append((total, total / floor_total if floor_total else float("nan"), alone))

print(f"app/memory with 100,000 songs (the app on its Songs list), PSS of the process tree, medians of {rounds} "
      f"rounds (ratios to the floor of the same round):")
for subject in roster:
    runs = figures.get(subject.name)
    if not runs:
        continue
    total, ratio = statistics.median(t for t, _, _ in runs), statistics.median(r for _, r, _ in runs)
    alone = statistics.median(a for _, _, a in runs)
    extra = f", the app process alone {alone:.0f} MB" if isinstance(subject, subjects.App) else ""
    print(f"app/memory   {subject.name:<10} {total:6.0f} MB   {ratio:5.2f}x the floor{extra}")
if figures.get("Wheelbox") and figures.get("floor"):
    ratio = statistics.median(r for _, r, _ in figures["Wheelbox"])
    alone = statistics.median(a for _, _, a in figures["Wheelbox"])
    print(f"app/memory goals, Wheelbox at most the floor: {ratio:.2f}x, {'met' if ratio <= 1 else 'missed'}; "
          f"the app process at most 60 MB: {alone:.0f} MB, {'met' if alone <= 60 else 'missed'}")
