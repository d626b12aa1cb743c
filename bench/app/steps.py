"""Wheel steps in the real app's Songs list at 100,000 songs: wheelbox-device (the device window over
the real bridge and MPD, painted as the app paints) opens Music > Songs, and the page times each of
300 steps down and back with its style and layout, as the firmware's own performance tests do.
usage: steps.py DATA_DIR -- DEVICE COMMAND...
Prints one JSON object on the last line."""
import json
import sys
import time

from device import Device

device = Device(sys.argv[sys.argv.index("--") + 1:], sys.argv[1], "steps")

SCREEN = """(() => {
  const pages = [...document.querySelectorAll('#pages .page')];
  const current = pages[pages.length - 1];
  return { title: document.getElementById('status-title').textContent,
           loading: !!current?.querySelector('.loading:not([hidden])'),
           rows: current ? current.querySelectorAll('.row').length : 0 };
})()"""

STEPS = """(() => {
  const steps = [];
  for (let i = 0; i < 300; i++) {
    const t0 = performance.now();
    window.dispatchEvent(new KeyboardEvent('keydown', { key: i % 50 < 45 ? 'ArrowDown' : 'ArrowUp' }));
    document.querySelector('#pages .page:last-child .row.selected')?.getBoundingClientRect();
    steps.push(performance.now() - t0);
  }
  steps.sort((a, b) => a - b);
  const ms = (value) => Math.round(value * 10) / 10;
  return { listTitle: document.getElementById('status-title').textContent, steps: steps.length,
           stepMedianMs: ms(steps[150]), stepP95Ms: ms(steps[285]), stepMaxMs: ms(steps[299]),
           over16Ms: steps.filter((s) => s > 16).length };
})()"""


def key(name):
    device.send(f"eval window.dispatchEvent(new KeyboardEvent('keydown', {{key: {json.dumps(name)}}}))")


def until_screen(title, timeout):
    deadline = time.monotonic() + timeout
    shown = None
    while time.monotonic() < deadline:
        shown = device.query(SCREEN)
        if shown["title"] == title and not shown["loading"] and shown["rows"]:
            return
        time.sleep(0.5)
    sys.exit(f"steps: {title} never showed (the screen: {shown})")


try:
    device.line_until(lambda line: line == "message ready", 60)
    time.sleep(2)
    key("Enter")
    until_screen("Music", 120)
    # Songs by its letter, as the wheel's keys jump; at 100,000 songs the library is read first.
    key("s")
    time.sleep(0.5)
    key("Enter")
    until_screen("Songs", 180)
    time.sleep(2)
    print(json.dumps(device.query(STEPS)))
    device.send("quit")
finally:
    device.close()
