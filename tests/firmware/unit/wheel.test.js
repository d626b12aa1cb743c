import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  Accelerator,
  FAST_STEP_MS,
  STEP_DEGREES,
  WheelTracker,
  accelerationFactor,
  angleDelta,
} from '../../../firmware/js/wheel.js';

test('angleDelta takes the short way round', () => {
  const cases = [
    [10, 20, 10],
    [350, 10, 20],
    [10, 350, -20],
    [0, 180, 180],
    [90, 270, 180],
  ];
  for (const [from, to, delta] of cases) assert.equal(angleDelta(from, to), delta, `${from}->${to}`);
});

test('a drag reports whole steps across the top of the wheel and keeps the remainder', () => {
  const tracker = new WheelTracker();
  tracker.reset(350);
  const steps = [355, 0, 5, 10, 20, 25].map((a) => tracker.move(a)); // 35° clockwise through 0
  assert.deepEqual(steps, [0, 0, 1, 0, 1, 0]);
  // Back the same way: the remainder is not lost or doubled.
  const back = [10, 355, 340].map((a) => tracker.move(a));
  assert.equal(back.reduce((a, b) => a + b, 0), -2);
});

test('a full turn in small moves is exactly one revolution of steps', () => {
  const tracker = new WheelTracker();
  tracker.reset(123);
  let total = 0;
  for (let i = 1; i <= 360; i++) total += tracker.move((123 + i) % 360);
  assert.equal(total, 360 / STEP_DEGREES);
});

test('a wobble under the threshold is a press, not a turn', () => {
  const tracker = new WheelTracker();
  tracker.reset(90);
  tracker.move(93);
  tracker.move(88);
  assert.equal(tracker.isTurning, false);
  tracker.move(98);
  assert.equal(tracker.isTurning, true);
});

test('acceleration factor', () => {
  const cases = [
    // fast steps, rows, factor
    [0, 100000, 1],
    [9, 100000, 1],
    [10, 100000, 2],
    [35, 100000, 8],
    [200, 100000, 1000], // capped at 1% of the list
    [200, 99, 1], // short lists never accelerate
    [200, 450, 4],
  ];
  for (const [fast, rows, factor] of cases) assert.equal(accelerationFactor(fast, rows), factor, `${fast}/${rows}`);
});

test('a sustained fast spin accelerates; a pause or a change of direction starts over', () => {
  const acc = new Accelerator();
  let t = 0;
  let moved = 0;
  for (let i = 0; i < 40; i++) moved = acc.step(1, (t += FAST_STEP_MS - 10), 100000);
  assert.ok(moved > 1, `accelerated to ${moved}`);
  assert.equal(acc.step(-1, (t += 10), 100000), -1, 'reversing is one row');
  for (let i = 0; i < 40; i++) acc.step(-1, (t += 10), 100000);
  assert.equal(acc.step(-1, (t += FAST_STEP_MS + 1), 100000), -1, 'after a pause one row again');
});
