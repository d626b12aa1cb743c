import { test } from 'node:test';
import assert from 'node:assert/strict';
import { ResizeMotion } from '../../../firmware/js/resize.js';

// Each case plays the calls and viewport changes the native side makes for one kind of resize
// and checks the transform shown after each step (null: not checked).
const cases = [
  {
    name: 'shrink, centre kept',
    steps: [
      ['out', [0.75], { scale: 0.75, x: 0, y: 0 }, true],
      ['viewportChanged', [470, 352.5], { scale: 1, x: 0, y: 0 }, false],
    ],
  },
  {
    name: 'shrink, centre moved',
    steps: [
      ['out', [0.5], { scale: 0.5, x: 0, y: 0 }, true],
      ['viewportChanged', [470, 235], { scale: 1, x: 0, y: 0 }, false],
      ['jumped', [12, -3.5], { scale: 1, x: 12, y: -3.5 }, false],
      ['go', [], { scale: 1, x: 0, y: 0 }, true],
    ],
  },
  {
    name: 'shrink, the jump arrives before the viewport change',
    steps: [
      ['out', [0.5], null, true],
      ['jumped', [-8, 4], { scale: 0.5, x: -8, y: 4 }, false],
      ['viewportChanged', [470, 235], { scale: 1, x: -8, y: 4 }, false],
      ['go', [], { scale: 1, x: 0, y: 0 }, true],
    ],
  },
  {
    name: 'grow, centre kept',
    steps: [
      ['viewportChanged', [235, 470], { scale: 0.5, x: 0, y: 0 }, false],
      ['go', [], { scale: 1, x: 0, y: 0 }, true],
    ],
  },
  {
    name: 'grow, centre moved',
    steps: [
      ['viewportChanged', [352.5, 470], { scale: 0.75, x: 0, y: 0 }, false],
      ['jumped', [30, 0], { scale: 0.75, x: 30, y: 0 }, false],
      ['go', [], { scale: 1, x: 0, y: 0 }, true],
    ],
  },
  {
    name: 'a shrink that overtakes a grow still waiting for its go',
    steps: [
      ['viewportChanged', [235, 470], { scale: 0.5, x: 0, y: 0 }, false],
      ['jumped', [25, 0], null, false],
      ['out', [0.75], { scale: 0.75, x: 0, y: 0 }, true],
      ['viewportChanged', [470, 352.5], { scale: 1, x: 0, y: 0 }, false],
    ],
  },
  {
    name: 'same width: reset in the middle of a shrink',
    steps: [
      ['out', [0.35], null, true],
      ['reset', [], { scale: 1, x: 0, y: 0 }, false],
    ],
  },
];

for (const { name, steps } of cases) {
  test(`resize: ${name}`, () => {
    const motion = new ResizeMotion();
    for (const [method, args, transform, animated] of steps) {
      motion[method](...args);
      if (transform) assert.deepEqual(motion.transform, transform, `after ${method}`);
      assert.equal(motion.duration > 0, animated, `${method} animated`);
    }
    assert.equal(motion.isIdentity, true);
    assert.equal(motion.awaitingGo, false);
  });
}

test('resize: a grow waits for resizeGo; odd arguments never produce a broken transform', () => {
  const motion = new ResizeMotion();
  motion.viewportChanged(235, 470);
  assert.equal(motion.awaitingGo, true);
  assert.equal(motion.viewportChanged(470, 470.3), false, 'a sub-pixel change is no resize');
  motion.reset();
  const odd = [
    ['out', [NaN], { scale: 1, x: 0, y: 0 }],
    ['out', [-1], { scale: 1, x: 0, y: 0 }],
    ['out', [3], { scale: 1, x: 0, y: 0 }],
    ['jumped', [undefined, Infinity], { scale: 1, x: 0, y: 0 }],
  ];
  for (const [method, args, transform] of odd) {
    motion[method](...args);
    assert.deepEqual(motion.transform, transform, `${method}(${args})`);
  }
});
