// The click wheel under a real pointer, the scroll wheel and the keyboard.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, SIZES } from '../support/browser.js';
import { screen, sent, waitForMessage, waitForScreen, wheelBox, wheelPoint } from '../support/device.js';

async function drag(page, box, from, to, radius = 0.75) {
  const start = wheelPoint(box, from, radius);
  await page.mouse.move(start.x, start.y);
  await page.mouse.down();
  const step = from < to ? 3 : -3;
  for (let a = from + step; step > 0 ? a <= to : a >= to; a += step) {
    const p = wheelPoint(box, a, radius);
    await page.mouse.move(p.x, p.y);
  }
  await page.mouse.up();
}

async function click(page, point, holdMs = 0) {
  await page.mouse.move(point.x, point.y);
  await page.mouse.down();
  if (holdMs) await page.waitForTimeout(holdMs);
  await page.mouse.up();
}

describe('wheel', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  for (const [name, size] of [['large', SIZES.large], ['small', SIZES.small]]) {
    test(`dragging around the ring turns the selection, with a tap and a click per step (${name})`, async () => {
      const page = await browser.open({ size });
      const box = await wheelBox(page);
      await drag(page, box, 200, 250); // 50° clockwise across the lower left: three steps
      assert.equal((await screen(page)).selected, 'About');
      const haptics = await sent(page, 'haptic');
      assert.equal(haptics.length, 3);
      assert.deepEqual(haptics[0], { method: 'haptic', version: 1 });
      // 35° anticlockwise over MENU: two steps back, and no press of MENU.
      await drag(page, box, 30, -5);
      assert.equal((await screen(page)).selected, 'Shuffle Songs');
      assert.equal((await screen(page)).title, 'Wheelbox');
      await page.close();
    });
  }

  test('a drag straight across the middle neither turns nor presses', async () => {
    const page = await browser.open();
    await page.waitForTimeout(100);
    const before = (await sent(page)).length;
    const box = await wheelBox(page);
    await page.mouse.move(...Object.values(wheelPoint(box, 90, 0.8)));
    await page.mouse.down();
    for (let r = 0.8; r > -0.8; r -= 0.05) await page.mouse.move(...Object.values(wheelPoint(box, 90, r)));
    await page.mouse.up();
    assert.equal((await screen(page)).selected, 'Music');
    assert.deepEqual((await sent(page)).slice(before), []);
    await page.close();
  });

  test('the centre selects and MENU goes back', async () => {
    const page = await browser.open();
    const box = await wheelBox(page);
    await click(page, wheelPoint(box, 0, 0.1));
    await waitForScreen(page, 'Music');
    await click(page, wheelPoint(box, 0, 0.8));
    assert.equal((await waitForScreen(page, 'Wheelbox')).selected, 'Music');
    await page.close();
  });

  test('play/pause, and back/forward tapped skip while held they scan', async () => {
    const page = await browser.open();
    const box = await wheelBox(page);
    await click(page, wheelPoint(box, 180, 0.8));
    await waitForMessage(page, 'playPause');
    await click(page, wheelPoint(box, 90, 0.8));
    await click(page, wheelPoint(box, 270, 0.8));
    await waitForMessage(page, 'skip', 2);
    assert.deepEqual((await sent(page, 'skip')).map((m) => m.params), [{ direction: 1 }, { direction: -1 }]);
    await click(page, wheelPoint(box, 270, 0.8), 800);
    await waitForMessage(page, 'endSeek');
    const seekOrder = (await sent(page)).filter((m) => /Seek$|^skip$/.test(m.method)).map((m) => [m.method, m.params]);
    assert.deepEqual(seekOrder.slice(2), [
      ['beginSeek', { direction: -1 }],
      ['endSeek', {}],
    ]);
    await page.close();
  });

  test('the mouse scroll wheel and the keys', async () => {
    const page = await browser.open();
    const box = await wheelBox(page);
    await page.mouse.move(box.cx, box.cy);
    await page.mouse.wheel(0, 100); // one notch
    assert.equal((await screen(page)).selected, 'Shuffle Songs');
    await page.mouse.wheel(0, 100);
    assert.equal((await screen(page)).selected, 'Settings');
    await page.mouse.wheel(0, -100);
    assert.equal((await screen(page)).selected, 'Shuffle Songs');
    const keys = [
      ['ArrowDown', 'Settings'],
      ['ArrowDown', 'About'],
      ['ArrowUp', 'Settings'],
      ['ArrowUp', 'Shuffle Songs'],
    ];
    for (const [key, selected] of keys) {
      await page.keyboard.press(key);
      assert.equal((await screen(page)).selected, selected, key);
    }
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Settings');
    await page.keyboard.press('Backspace');
    await waitForScreen(page, 'Wheelbox');
    await page.keyboard.press(' ');
    await waitForMessage(page, 'playPause');
    await page.close();
  });
});
