// The resize hand-over in the orders the native side makes its calls, and the drawing at each size
// matching the native hit test.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, SIZES } from '../support/browser.js';
import { screen } from '../support/device.js';

const BODY = [0.8297872340425532, 0.8363428571428572];
const WHEEL = { cx: 0.5, cy: 0.6964334517627767, rx: 0.37948717948717947, ry: 0.22981937439439487 };

/** The stage's transform as { scale, x, y }, read from the computed matrix. */
function motion(page) {
  return page.evaluate(() => {
    const t = getComputedStyle(document.getElementById('stage')).transform;
    if (t === 'none') return { scale: 1, x: 0, y: 0 };
    const [a, , , , e, f] = t.slice(7, -1).split(',').map(Number);
    return { scale: Math.round(a * 1000) / 1000, x: Math.round(e * 10) / 10, y: Math.round(f * 10) / 10 };
  });
}

const call = (page, script) => page.evaluate(script);

async function settled(page) {
  await page.waitForTimeout(350); // longer than the firmware's settle animation
  return motion(page);
}

/** Body and wheel as drawn, against the native hit test's fractions of the viewport. */
async function geometryError(page) {
  return page.evaluate(([body, wheel]) => {
    const W = innerWidth;
    const H = innerHeight;
    const b = document.getElementById('body').getBoundingClientRect();
    const w = document.getElementById('wheel').getBoundingClientRect();
    const bw = W * body[0];
    const bh = H * body[1];
    const bx = (W - bw) / 2;
    const by = (H - bh) / 2;
    const expected = [bx, by, bw, bh, bx + bw * (wheel.cx - wheel.rx), by + bh * (wheel.cy - wheel.ry), 2 * bw * wheel.rx, 2 * bh * wheel.ry];
    const actual = [b.x, b.y, b.width, b.height, w.x, w.y, w.width, w.height];
    return Math.max(...actual.map((v, i) => Math.abs(v - expected[i])));
  }, [BODY, WHEEL]);
}

describe('resize', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('body and wheel sit where the native hit test expects them at every size', async () => {
    const page = await browser.open();
    for (const size of Object.values(SIZES)) {
      await page.setViewportSize(size);
      await page.waitForTimeout(50);
      const error = await geometryError(page);
      assert.ok(error < 0.05, `${size.width}x${size.height}: off by ${error}px`);
    }
    // Just inside the rim a press reaches the wheel; just outside it the body.
    await page.setViewportSize(SIZES.large);
    await page.waitForTimeout(50);
    await call(page, () => window.veltoFirmware.resizeReset());
    const hits = await page.evaluate(([body, wheel]) => {
      const bw = innerWidth * body[0];
      const bh = innerHeight * body[1];
      const cx = (innerWidth - bw) / 2 + bw * wheel.cx;
      const cy = (innerHeight - bh) / 2 + bh * wheel.cy;
      const at = (angle, r) => {
        const a = (angle * Math.PI) / 180;
        const el = document.elementFromPoint(cx + Math.sin(a) * r * bw * wheel.rx, cy - Math.cos(a) * r * bh * wheel.ry);
        return Boolean(el && el.closest('#wheel'));
      };
      return [45, 135, 225, 315].map((angle) => [at(angle, 0.985), at(angle, 1.015)]);
    }, [BODY, WHEEL]);
    assert.deepEqual(hits, [[true, false], [true, false], [true, false], [true, false]]);
    await page.close();
  });

  test('shrink with the centre kept: resizeOut settles after its animation, the new size draws plainly', async () => {
    const page = await browser.open();
    const took = await call(page, async () => {
      const t0 = performance.now();
      await window.veltoFirmware.resizeOut(0.75);
      return performance.now() - t0;
    });
    assert.ok(took >= 100 && took < 1000, `resizeOut took ${took} ms`);
    assert.deepEqual(await motion(page), { scale: 0.75, x: 0, y: 0 });
    await page.setViewportSize(SIZES.medium);
    assert.deepEqual(await settled(page), { scale: 1, x: 0, y: 0 });
    assert.ok((await geometryError(page)) < 0.05);
    await page.close();
  });

  test('shrink with the centre moved: out, jumped, go', async () => {
    const page = await browser.open();
    await call(page, () => window.veltoFirmware.resizeOut(0.5));
    await page.setViewportSize(SIZES.small);
    await page.waitForTimeout(50);
    await call(page, () => window.veltoFirmware.resizeJumped(-20.0, 12.5));
    assert.deepEqual(await motion(page), { scale: 1, x: -20, y: 12.5 });
    await call(page, () => window.veltoFirmware.resizeGo());
    assert.deepEqual(await settled(page), { scale: 1, x: 0, y: 0 });
    await page.close();
  });

  test('grow: the old size shows until resizeGo, with or without a jump', async () => {
    const page = await browser.open({ size: SIZES.small });
    await page.setViewportSize(SIZES.large);
    await page.waitForTimeout(50);
    assert.deepEqual(await motion(page), { scale: 0.5, x: 0, y: 0 });
    await call(page, () => window.veltoFirmware.resizeJumped(30.0, 0.0));
    assert.deepEqual(await motion(page), { scale: 0.5, x: 30, y: 0 });
    await call(page, () => window.veltoFirmware.resizeGo());
    assert.deepEqual(await settled(page), { scale: 1, x: 0, y: 0 });
    // Grow with the centre kept: only resizeGo.
    await page.setViewportSize(SIZES.small);
    await page.waitForTimeout(50);
    await page.setViewportSize(SIZES.large);
    await page.waitForTimeout(50);
    assert.deepEqual(await motion(page), { scale: 0.5, x: 0, y: 0 });
    await call(page, () => window.veltoFirmware.resizeGo());
    assert.deepEqual(await settled(page), { scale: 1, x: 0, y: 0 });
    await page.close();
  });

  test('a grow that never gets resizeGo still reaches full size', async () => {
    const page = await browser.open({ size: SIZES.small });
    await page.setViewportSize(SIZES.large);
    await page.waitForTimeout(50);
    assert.equal((await motion(page)).scale, 0.5);
    await page.waitForTimeout(1700);
    assert.deepEqual(await motion(page), { scale: 1, x: 0, y: 0 });
    await page.close();
  });

  test('same width: resizeReset undoes a shrink at once and settles its promise', async () => {
    const page = await browser.open();
    const settledOut = await call(page, () => {
      const out = window.veltoFirmware.resizeOut(0.35);
      window.veltoFirmware.resizeReset();
      return Promise.race([out.then(() => 'settled'), new Promise((r) => setTimeout(() => r('pending'), 20))]);
    });
    assert.equal(settledOut, 'settled');
    assert.deepEqual(await motion(page), { scale: 1, x: 0, y: 0 });
    // The device keeps working through all of it.
    await page.keyboard.press('ArrowDown');
    assert.equal((await screen(page)).selected, 'Shuffle Songs');
    await page.close();
  });
});
