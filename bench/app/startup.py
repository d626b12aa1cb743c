"""Start of the installed app to its device's first screen, against a bare WebKitGTK window loading
the same page; rounds alternate. usage: startup.py PAGE ROUNDS -- APP COMMAND..."""
import statistics
import sys
import time

import common

page, rounds = sys.argv[1], int(sys.argv[2])
app = sys.argv[sys.argv.index("--") + 1:]
here = sys.argv[0].rsplit("/", 1)[0]
x, y = common.device_origin()
timings = {"app": [], "bare": []}
for _ in range(rounds):
    for kind, command in (("app", app), ("bare", ["/usr/bin/python3", f"{here}/bare.py", page, str(x), str(y)])):
        common.wait_until(lambda: not common.row_is_drawn(), 10)
        started = time.monotonic()
        process = common.start(command)
        if not common.wait_until(common.row_is_drawn, 60):
            sys.exit(f"startup: the {kind} never showed the device")
        timings[kind].append(time.monotonic() - started)
        common.stop(process)
app_median, bare_median = statistics.median(timings["app"]), statistics.median(timings["bare"])
print(f"app/start to the device's first screen: {app_median:.2f} s, a bare WebKitGTK window "
      f"{bare_median:.2f} s: {app_median / bare_median:.2f}x (target 1.3x; medians of {rounds})")
