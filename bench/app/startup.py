"""Start of the installed app to its painted device (its first screen), against a bare WebKitGTK
window loading the same page; rounds alternate. Over a desktop of one colour, it also times how long
each window is on screen before its page has painted (an empty or black window).
usage: startup.py PAGE ROUNDS -- APP COMMAND..."""
import statistics
import subprocess
import sys
import time

import common

page, rounds = sys.argv[1], int(sys.argv[2])
app = sys.argv[sys.argv.index("--") + 1:]
here = sys.argv[0].rsplit("/", 1)[0]
x, y = common.device_origin()
desktop = subprocess.Popen(["/usr/bin/python3", f"{here}/desktop.py"], cwd=here)
try:
    if not common.wait_until(common.shows_desktop, 20):
        sys.exit("startup: the desktop never showed")
    painted = {"app": [], "bare": []}
    unpainted = {"app": [], "bare": []}
    for _ in range(rounds):
        for kind, command in (("app", app), ("bare", ["/usr/bin/python3", f"{here}/bare.py", page, str(x), str(y)])):
            common.wait_until(lambda: common.shows_desktop() and not common.row_is_drawn(), 10)
            started = time.monotonic()
            process = common.start(command)
            covered = None
            deadline = started + 60
            while not common.row_is_drawn():
                if covered is None and not common.shows_desktop():
                    covered = time.monotonic()
                if time.monotonic() > deadline:
                    sys.exit(f"startup: the {kind} never showed the device")
                time.sleep(0.005)
            done = time.monotonic()
            painted[kind].append(done - started)
            unpainted[kind].append(done - (covered or done))
            common.stop(process)
finally:
    desktop.terminate()
    desktop.wait()
app_median, bare_median = statistics.median(painted["app"]), statistics.median(painted["bare"])
print(f"app/start to the painted device (its first screen): {app_median:.2f} s, a bare WebKitGTK window "
      f"{bare_median:.2f} s: {app_median / bare_median:.2f}x (target 1.3x; medians of {rounds})")
print(f"app/on screen before the page painted: the app {statistics.median(unpainted['app']):.2f} s, "
      f"the bare window {statistics.median(unpainted['bare']):.2f} s (medians of {rounds}; 0 is the target)")
