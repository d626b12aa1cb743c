"""Idle CPU while a song plays, as the user meets it: the app on Now Playing, against the floor (a
bare WebKitGTK window changing one word a second) and the MPD clients, in rounds of the same run.
Each figure is the whole process tree plus the X server's own CPU over the spell, in percent of
one core; the ratios are to the floor of the same round.
usage: idle.py MPD_SOCKET MPD_PORT MUSIC_DIR SECONDS ROUNDS HOME -- APP COMMAND...
WHEELBOX_BENCH_BASELINE_APP names another build's installed wheelbox, measured the same way in each
round; WHEELBOX_BENCH_PEERS lists the clients to measure (all of them by default, "none" for none)."""
import collections
import statistics
import sys
import time

import common
import subjects

socket, port, music, seconds, rounds, home = sys.argv[1:7]
seconds, rounds = float(seconds), int(rounds)
command = sys.argv[sys.argv.index("--") + 1:]
mpd = subjects.Mpd(socket, port, music)


def measure(subject):
    """Shares of one core by process name, the X server's, and the busiest threads of the tree."""
    subject.start()
    try:
        if not subject.play(mpd):
            print(f"app/idle: {subject.name} never showed the song playing; left out of this round", flush=True)
            return None
        time.sleep(5)
        root = subject.process.pid

        def sample():
            processes, threads = collections.Counter(), collections.Counter()
            for pid in common.tree(root):
                try:
                    own, reaped = common.cpu_seconds(pid)
                except OSError:
                    continue
                label = common.name(pid)
                processes[(pid, label)] = own
                if pid == root:
                    processes[(pid, "reaped children")] = reaped
                for thread, used in common.thread_seconds(pid).items():
                    threads[(pid, f"{label}/{thread}")] += used
            return processes, threads, common.x_server_seconds()

        (processes, threads, x), started = sample(), time.monotonic()
        time.sleep(seconds)
        (processes_after, threads_after, x_after), elapsed = sample(), time.monotonic() - started
        share = lambda used: 100 * used / elapsed  # noqa: E731
        by_process, by_thread = collections.Counter(), collections.Counter()
        for key, value in processes_after.items():
            by_process[key[1]] += share(value - processes.get(key, 0.0))
        for key, value in threads_after.items():
            by_thread[key[1]] += share(value - threads.get(key, 0.0))
        return {"tree": sum(by_process.values()), "x": share(x_after - x), "processes": by_process,
                "threads": by_thread}
    finally:
        subject.stop()


def describe(result):
    parts = ", ".join(f"{label} {value:.2f}" for label, value in result["processes"].most_common() if value >= 0.005)
    return f"{result['tree'] + result['x']:.2f} % (tree {result['tree']:.2f}: {parts}; X server {result['x']:.2f})"


roster = subjects.roster(command, home, mpd, "idle")

figures = collections.defaultdict(list)  # name -> [(total, ratio to the floor)]
for round_number in range(1, rounds + 1):
    results = {}
    for subject in roster:
        result = measure(subject)
        if result:
            results[subject.name] = result
            print(f"app/idle round {round_number}, {subject.name}: {describe(result)}", flush=True)
            if subject.name == "Wheelbox":
                busy = ", ".join(f"{label} {value:.2f}" for label, value in result["threads"].most_common(6))
                print(f"app/idle round {round_number}, Wheelbox's busiest threads: {busy}", flush=True)
    mpd.stop()
    floor_total = results["floor"]["tree"] + results["floor"]["x"] if "floor" in results else None
    for name, result in results.items():
        total = result["tree"] + result["x"]
        figures[name].append((total, total / floor_total if floor_total else float("nan")))

print(f"app/idle while a song plays, whole process tree + X server, % of one core, medians of {rounds} rounds of "
      f"{seconds:.0f} s (ratios to the floor of the same round):")
for subject in roster:
    runs = figures.get(subject.name)
    if not runs:
        continue
    total = statistics.median(t for t, _ in runs)
    ratio = statistics.median(r for _, r in runs)
    print(f"app/idle   {subject.name:<10} {total:6.2f} %   {ratio:5.2f}x the floor")
if figures.get("Wheelbox") and figures.get("floor"):
    ratio = statistics.median(r for _, r in figures["Wheelbox"])
    print(f"app/idle goal, Wheelbox at most 1.3x the floor: {ratio:.2f}x, {'met' if ratio <= 1.3 else 'missed'}")
