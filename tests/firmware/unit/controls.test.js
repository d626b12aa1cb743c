import { test } from 'node:test';
import assert from 'node:assert/strict';
import { fakeClock } from '../support/clock.js';
import { HOLD_MS, KeyboardControl, SCROLL_FORGET_MS, ScrollSteps } from '../../../firmware/js/controls.js';


/** Runs key events ['down'|'repeat'|'up', key] and ['wait', ms]; returns the inputs sent. */
function run(steps, { refuse = false } = {}) {
  const inputs = [];
  const timers = fakeClock();
  const keys = new KeyboardControl((action, argument) => {
    inputs.push(argument === undefined ? [action] : [action, argument]);
    return !refuse;
  }, timers);
  for (const [kind, value] of steps) {
    if (kind === 'wait') timers.advance(value);
    else if (kind === 'up') keys.up(value);
    else if (kind === 'release') keys.release();
    else keys.down(value, kind === 'repeat');
  }
  return inputs;
}

test('key rules: what repeats, what a tap and a hold do', () => {
  const cases = [
    ['Space repeats nothing', [['down', ' '], ['repeat', ' '], ['repeat', ' '], ['up', ' ']], [['playPause']]],
    ['Enter repeats nothing', [['down', 'Enter'], ['repeat', 'Enter'], ['up', 'Enter']], [['select']]],
    ['Escape and Backspace repeat nothing', [['down', 'Escape'], ['repeat', 'Escape'], ['down', 'Backspace'], ['repeat', 'Backspace']], [['menu'], ['menu']]],
    ['arrows scroll on every repeat', [['down', 'ArrowDown'], ['repeat', 'ArrowDown'], ['down', 'ArrowUp']], [['scroll', 1], ['scroll', 1], ['scroll', -1]]],
    ['pages repeat, ends do not', [['down', 'PageDown'], ['repeat', 'PageDown'], ['down', 'PageUp'], ['down', 'Home'], ['repeat', 'Home'], ['down', 'End']], [['page', 1], ['page', 1], ['page', -1], ['end', -1], ['end', 1]]],
    ['letters and digits type, once a press', [['down', 'h'], ['repeat', 'h'], ['down', 'É'], ['down', '7'], ['down', '東']], [['type', 'h'], ['type', 'É'], ['type', '7'], ['type', '東']]],
    ['a tap skips on release', [['down', 'ArrowRight'], ['wait', HOLD_MS - 1], ['up', 'ArrowRight']], [['skip', 1]]],
    ['a hold scans until released', [['down', 'ArrowLeft'], ['wait', HOLD_MS], ['repeat', 'ArrowLeft'], ['up', 'ArrowLeft']], [['seekBegin', -1], ['seekEnd']]],
    ['a second down without an up is ignored', [['down', 'MediaTrackNext'], ['down', 'MediaTrackNext'], ['up', 'MediaTrackNext']], [['skip', 1]]],
    ['fast forward scans at once', [['down', 'MediaFastForward'], ['up', 'MediaFastForward']], [['seekBegin', 1], ['seekEnd']]],
    ['media play keys', [['down', 'MediaPlay'], ['down', 'MediaPlayPause'], ['down', 'MediaPause'], ['down', 'MediaStop']], [['playPause'], ['playPause'], ['pause'], ['pause']]],
    ['focus lost mid-hold ends the scan and skips nothing', [['down', 'ArrowRight'], ['wait', HOLD_MS], ['release'], ['up', 'ArrowRight']], [['seekBegin', 1], ['seekEnd']]],
    ['focus lost before the hold: nothing', [['down', 'ArrowRight'], ['release'], ['wait', HOLD_MS], ['up', 'ArrowRight']], []],
    ['other keys do nothing', [['down', 'Tab'], ['down', '-'], ['down', 'Dead'], ['down', 'F5'], ['up', 'Tab']], []],
  ];
  for (const [name, steps, expected] of cases) assert.deepEqual(run(steps), expected, name);
});

test('a hold refused by the hold switch never sends the end of a scan', () => {
  assert.deepEqual(run([['down', 'ArrowRight'], ['wait', HOLD_MS], ['up', 'ArrowRight']], { refuse: true }), [['seekBegin', 1]]);
});

test('scroll steps: one a notch in every engine, small moves added up, a stale remainder dropped', () => {
  const cases = [
    // [name, events ([event, time]), steps after each]
    ['WebKitGTK notches at tiny', [[{ deltaY: 41, wheelDeltaY: -120 }, 0], [{ deltaY: 41, wheelDeltaY: -120 }, 10]], [1, 1]],
    ['WebKitGTK notches at large', [[{ deltaY: 84, wheelDeltaY: -120 }, 0], [{ deltaY: -84, wheelDeltaY: 120 }, 500]], [1, -1]],
    ['Chromium coalesced two notches', [[{ deltaY: 240, wheelDeltaY: -240 }, 0]], [2]],
    ['touchpad quarter notches', [[{ deltaY: 3, wheelDeltaY: -30 }, 0], [{ deltaY: 3, wheelDeltaY: -30 }, 10], [{ deltaY: 3, wheelDeltaY: -30 }, 20], [{ deltaY: 3, wheelDeltaY: -30 }, 30]], [0, 0, 0, 1]],
    ['thirds add up exactly', [[{ wheelDeltaY: -40 }, 0], [{ wheelDeltaY: -40 }, 1], [{ wheelDeltaY: -40 }, 2]], [0, 0, 1]],
    ['a remainder is forgotten after a pause', [[{ wheelDeltaY: -90 }, 0], [{ wheelDeltaY: -90 }, SCROLL_FORGET_MS + 1]], [0, 0]],
    ['a change of direction starts over', [[{ wheelDeltaY: -90 }, 0], [{ wheelDeltaY: 90 }, 10], [{ wheelDeltaY: 60 }, 20]], [0, 0, -1]],
    ['lines without wheelDelta', [[{ deltaY: 3, deltaMode: 1 }, 0], [{ deltaY: -6, deltaMode: 1 }, 500]], [1, -2]],
    ['pixels without wheelDelta', [[{ deltaY: 100 }, 0], [{ deltaY: 50 }, 10], [{ deltaY: 50 }, 20]], [1, 0, 1]],
    ['pages', [[{ deltaY: 0.5, deltaMode: 2 }, 0]], [1]],
    ['horizontal only, or garbage', [[{ deltaY: 0, wheelDeltaY: 0 }, 0], [{ deltaY: NaN }, 1], [{ deltaY: Infinity, deltaMode: 1 }, 2]], [0, 0, 0]],
  ];
  for (const [name, events, expected] of cases) {
    const steps = new ScrollSteps();
    assert.deepEqual(events.map(([event, time]) => steps.feed(event, time)), expected, name);
  }
});
