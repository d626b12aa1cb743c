// Keyboard and scroll-wheel rules, without the DOM: which key does what, what auto-repeat may
// repeat, when holding a key scans, and how many steps a scroll event is worth.

export const HOLD_MS = 500; // a back/forward press held longer than this scans instead of skipping

// What each key does. `repeats`: auto-repeat takes the action again (moving only); `button`: a
// press-and-hold button that skips when tapped and scans while held; `scan`: scans while held.
// Up and down are a scroll: down the list, and up is more on Now Playing.
export const KEYS = {
  ArrowDown: { action: 'scroll', argument: 1, repeats: true },
  ArrowUp: { action: 'scroll', argument: -1, repeats: true },
  PageDown: { action: 'page', argument: 1, repeats: true },
  PageUp: { action: 'page', argument: -1, repeats: true },
  Home: { action: 'end', argument: -1 },
  End: { action: 'end', argument: 1 },
  ArrowRight: { button: 1 },
  ArrowLeft: { button: -1 },
  MediaTrackNext: { button: 1 },
  MediaTrackPrevious: { button: -1 },
  MediaFastForward: { scan: 1 },
  MediaRewind: { scan: -1 },
  Enter: { action: 'select' },
  Escape: { action: 'menu' },
  Backspace: { action: 'menu' },
  ' ': { action: 'playPause' },
  // X11's play key arrives as "MediaPlay" in WebKitGTK, though keyboards mean a toggle by it.
  MediaPlay: { action: 'playPause' },
  MediaPlayPause: { action: 'playPause' },
  MediaPause: { action: 'pause' },
  MediaStop: { action: 'pause' },
};

/** A letter or digit typed to jump in a list (a key's `key` of one character). */
export function isTyped(key) {
  return typeof key === 'string' && /^[\p{L}\p{N}]$/u.test(key);
}

/** A key that writes one character (a letter, a digit, a space, punctuation): text for a search. */
export function isText(key) {
  return typeof key === 'string' && key !== '' && [...key].length === 1 && !/\p{C}/u.test(key);
}

/**
 * Turns key presses and releases into App inputs. `input(action, argument)` is App.input: it
 * returns false when it refused the input (hold). `timers` has setTimeout/clearTimeout. `typing()`
 * tells whether the screen takes text (a search): every character key then types, the space too.
 */
export class KeyboardControl {
  constructor(input, timers = globalThis, typing = () => false) {
    this.input = input;
    this.timers = timers;
    this.typing = typing;
    this.held = new Map(); // key -> { timer, scanning } of a button or scan key that is down
  }

  /** A keydown. Returns whether the key is one of the device's (the page should not act on it). */
  down(key, repeat = false) {
    if (isText(key) && this.typing()) {
      if (!repeat) this.input('type', key);
      return true;
    }
    const rule = KEYS[key];
    if (!rule) {
      if (!isTyped(key)) return false;
      // A held letter would search for "aaaa": only the press types.
      if (!repeat) this.input('type', key);
      return true;
    }
    if (rule.button || rule.scan) {
      if (repeat || this.held.has(key)) return true;
      const press = { timer: null, scanning: false };
      this.held.set(key, press);
      if (rule.scan) press.scanning = this.input('seekBegin', rule.scan);
      else {
        press.timer = this.timers.setTimeout(() => {
          press.timer = null;
          press.scanning = this.input('seekBegin', rule.button);
        }, HOLD_MS);
      }
      return true;
    }
    if (repeat && !rule.repeats) return true;
    this.input(rule.action, rule.argument);
    return true;
  }

  /** A keyup. A button released before it began to scan was a tap: it skips. */
  up(key) {
    const press = this.held.get(key);
    if (!press) return Boolean(KEYS[key]);
    this.held.delete(key);
    if (press.scanning) this.input('seekEnd');
    else if (press.timer !== null) {
      this.timers.clearTimeout(press.timer);
      this.input('skip', KEYS[key].button);
    }
    return true;
  }

  /** Focus left the page: releases arrive nowhere, so end every press without acting on it. */
  release() {
    for (const press of this.held.values()) {
      this.timers.clearTimeout(press.timer);
      if (press.scanning) this.input('seekEnd');
    }
    this.held.clear();
  }
}

// One notch of a mouse wheel in the legacy wheelDelta units, which WebKitGTK and Chromium both
// report per notch whatever the pixel delta (WebKitGTK scrolls (view height)^(2/3) px a notch,
// Chromium 100 or 120 px).
export const WHEEL_DELTA_PER_NOTCH = 120;
const LINES_PER_NOTCH = 3;
const PIXELS_PER_NOTCH = 100; // only for engines without wheelDelta
// A partial notch older than this (a touchpad's leftover) does not add to the next gesture.
export const SCROLL_FORGET_MS = 400;

/** Counts scroll events as wheel steps: one step a notch, a touchpad's small moves added up. */
export class ScrollSteps {
  constructor() {
    this.pending = 0;
    this.lastTime = -Infinity;
  }

  /** Notches of one wheel event (positive: down the list), possibly fractional. */
  static notches({ deltaY = 0, deltaMode = 0, wheelDeltaY }) {
    if (typeof wheelDeltaY === 'number' && Number.isFinite(wheelDeltaY) && wheelDeltaY !== 0) {
      return -wheelDeltaY / WHEEL_DELTA_PER_NOTCH;
    }
    if (!Number.isFinite(deltaY)) return 0;
    if (deltaMode === 1) return deltaY / LINES_PER_NOTCH;
    if (deltaMode === 2) return Math.sign(deltaY);
    return deltaY / PIXELS_PER_NOTCH;
  }

  /** Feeds one event at `time` ms; returns the whole steps to take now. */
  feed(event, time) {
    const notches = ScrollSteps.notches(event);
    if (notches === 0) return 0;
    if (time - this.lastTime > SCROLL_FORGET_MS || Math.sign(notches) !== Math.sign(this.pending)) this.pending = 0;
    this.lastTime = time;
    this.pending += notches;
    // A hair of tolerance: three thirds of a notch are one notch.
    const steps = Math.trunc(this.pending + Math.sign(this.pending) * 1e-6) || 0;
    this.pending -= steps;
    return steps;
  }
}
