// Pointer, scroll wheel and keyboard input, turned into App actions.

import { HOLD_MS, KeyboardControl, ScrollSteps } from './controls.js';
import { wheelPolar, wheelZone } from './geometry.js';
import { WheelTracker } from './wheel.js';

const MIN_TURN_RADIUS = 0.25; // of the wheel's radius

const TAPS = {
  menu: ['menu'],
  play: ['playPause'],
  forward: ['skip', 1],
  back: ['skip', -1],
};

export function attachInput({ app, view, wheel, win = window, timers = win }) {
  const tracker = new WheelTracker();
  let press = null; // the gesture of the pointer that is down on the wheel

  const polarOf = (event) => {
    const r = wheel.getBoundingClientRect();
    return wheelPolar(event.clientX, event.clientY, {
      cx: r.left + r.width / 2,
      cy: r.top + r.height / 2,
      rx: r.width / 2,
      ry: r.height / 2,
    });
  };

  const finish = (event, cancelled) => {
    if (!press || press.pointerId !== event.pointerId) return;
    const ended = press;
    press = null;
    timers.clearTimeout(ended.holdTimer);
    view.touchEnd();
    view.centerPressed(false);
    if (ended.zone === 'center') {
      if (!cancelled && wheelZone(polarOf(event)) === 'center') app.input('select');
      return;
    }
    if (ended.seeking) {
      app.input('seekEnd');
      return;
    }
    if (!cancelled && !tracker.isTurning && !ended.leftRing) {
      const [action, argument] = TAPS[ended.zone];
      app.input(action, argument);
    }
  };

  wheel.addEventListener('pointerdown', (event) => {
    if (event.button !== 0 || press) return;
    const polar = polarOf(event);
    const zone = wheelZone(polar);
    if (!zone) return; // a corner of the wheel's box, outside the round wheel
    event.preventDefault();
    wheel.setPointerCapture?.(event.pointerId);
    press = { pointerId: event.pointerId, zone, seeking: false, holdTimer: null };
    if (zone === 'center') {
      view.centerPressed(true);
      return;
    }
    tracker.reset(polar.angle);
    view.touchAt(polar.angle);
    if (zone === 'forward' || zone === 'back') {
      const current = press;
      current.holdTimer = timers.setTimeout(() => {
        if (press !== current || tracker.isTurning) return;
        current.seeking = app.input('seekBegin', zone === 'forward' ? 1 : -1);
      }, HOLD_MS);
    }
  });

  wheel.addEventListener('pointermove', (event) => {
    if (!press || press.pointerId !== event.pointerId || press.zone === 'center' || press.seeking) return;
    const { angle, radius } = polarOf(event);
    // Near the middle the angle swings wildly with tiny moves; only the ring counts.
    if (radius < MIN_TURN_RADIUS) {
      press.offRing = true;
      press.leftRing = true; // a gesture that crossed the middle is no press of a ring button
      timers.clearTimeout(press.holdTimer);
      return;
    }
    if (press.offRing) {
      press.offRing = false;
      tracker.resync(angle);
      return;
    }
    const steps = tracker.move(angle);
    view.touchAt(angle);
    if (tracker.isTurning) timers.clearTimeout(press.holdTimer);
    if (steps !== 0) app.input('rotate', steps);
  });

  wheel.addEventListener('pointerup', (event) => finish(event, false));
  wheel.addEventListener('pointercancel', (event) => finish(event, true));
  wheel.addEventListener('lostpointercapture', (event) => finish(event, true));

  const scroll = new ScrollSteps();
  win.addEventListener(
    'wheel',
    (event) => {
      event.preventDefault();
      const steps = scroll.feed(event, event.timeStamp);
      if (steps !== 0) app.input('scroll', steps);
    },
    { passive: false },
  );

  const keyboard = new KeyboardControl((action, argument) => app.input(action, argument), timers, () => app.typing);
  win.addEventListener('keydown', (event) => {
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    if (keyboard.down(event.key, event.repeat)) event.preventDefault();
  });
  win.addEventListener('keyup', (event) => {
    if (keyboard.up(event.key)) event.preventDefault();
  });
  win.addEventListener('blur', () => keyboard.release());

  // A context menu or a drag must never start from the device face.
  win.addEventListener('contextmenu', (event) => event.preventDefault());
  win.addEventListener('dragstart', (event) => event.preventDefault());
}
