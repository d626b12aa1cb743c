"""The resize hand-over as it reaches the screen: wheelbox-device (the device window over the real
bridge) is sent through the four sizes and back, and the X server's record of every change on the
screen (frames.py) is kept for 1.5 s after each size command. Prints, over every hand-over, the
frames it showed, how long it took from its first frame to its last, the median and longest
interval between its frames, and how many intervals passed 50 ms (a visible stall).
usage: resize.py ROUNDS DATA_DIR -- DEVICE COMMAND...
Prints one JSON object on the last line."""
import json
import statistics
import sys
import time

import frames as screen
from device import Device

rounds, data = int(sys.argv[1]), sys.argv[2]
device = Device(sys.argv[sys.argv.index("--") + 1:], data, "resize")

try:
    device.line_until(lambda line: line == "message ready", 60)
    time.sleep(2)
    changes = screen.ScreenChanges()
    changes.start()
    intervals, counts, spans, inner = [], [], [], []
    for _ in range(rounds):
        for size in ("medium", "small", "tiny", "large"):
            started = time.monotonic()
            device.send("size " + size)
            time.sleep(1.5)
            shown = changes.between(started, started + 1.5)
            counts.append(len(shown))
            spans.append(1000 * (shown[-1] - shown[0]) if shown else 0.0)
            steps = [1000 * (b - a) for a, b in zip(shown, shown[1:])]
            intervals += steps
            # Without the last change: the repaint when the view goes back to rest, not a frame of
            # the motion.
            inner += steps[:-1]
            time.sleep(0.5)
    changes.stop()
    device.send("quit")
    intervals.sort()
    figures = {
        "hand-overs": 4 * rounds,
        "framesPerHandOver": statistics.median(counts),
        "handOverMs": round(statistics.median(spans)),
        "medianMs": round(statistics.median(intervals), 1) if intervals else None,
        "p95Ms": round(intervals[int(0.95 * (len(intervals) - 1))], 1) if intervals else None,
        "longestMs": round(intervals[-1], 1) if intervals else None,
        "over50Ms": sum(1 for i in intervals if i > 50),
        "beforeTheLastChange": {"p95Ms": round(sorted(inner)[int(0.95 * (len(inner) - 1))], 1) if inner else None,
                                "longestMs": round(max(inner), 1) if inner else None,
                                "over50Ms": sum(1 for i in inner if i > 50)},
    }
    print(json.dumps(figures))
finally:
    device.close()
