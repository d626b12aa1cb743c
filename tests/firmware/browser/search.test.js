// Search on the device in Chromium, through the stand-in native side: by the wheel on the strip of
// letters, and by the keyboard.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { SIZES, startBrowser } from '../support/browser.js';
import { choose, screen, sent, waitForMessage, waitForScreen, wheelBox, wheelPoint } from '../support/device.js';

async function click(page, point) {
  await page.mouse.move(point.x, point.y);
  await page.mouse.down();
  await page.mouse.up();
}

const matches = (page) =>
  page.evaluate(() => [...document.querySelectorAll('#pages .page:last-child .search-matches .row:not([hidden]) .row-title')].map((r) => r.textContent));
// Waits until the matches on screen are these titles (the answer to the last query typed).
const showing = (page, titles) =>
  page.waitForFunction(
    (expected) =>
      JSON.stringify([...document.querySelectorAll('#pages .page:last-child .search-matches .row:not([hidden]) .row-title')].map((r) => r.textContent)) ===
      JSON.stringify(expected),
    titles,
  );
const strip = (page) =>
  page.evaluate(() => ({
    key: document.querySelector('.search-key.current')?.dataset.key,
    query: document.querySelector('.search-query').textContent,
  }));

async function openSearch(browser) {
  const page = await browser.open();
  await page.keyboard.press('Enter');
  await waitForScreen(page, 'Music');
  await choose(page, 'Search');
  await waitForScreen(page, 'Search');
  return page;
}

describe('search', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('the wheel walks the strip, the centre button types, and the matches follow', async () => {
    const page = await openSearch(browser);
    const box = await wheelBox(page);
    // A clockwise drag along the ring moves along the strip.
    await page.mouse.move(...Object.values(wheelPoint(box, 20, 0.75)));
    await page.mouse.down();
    for (let angle = 23; angle <= 110; angle += 3) await page.mouse.move(...Object.values(wheelPoint(box, angle, 0.75)));
    await page.mouse.up();
    const { key } = await strip(page);
    assert.match(key, /^[B-Z]$/);
    await click(page, wheelPoint(box, 0, 0.1));
    const first = await waitForMessage(page, 'search');
    assert.deepEqual(first.params, { query: key.toLowerCase() });
    assert.equal((await strip(page)).query, key.toLowerCase());
    // MENU takes the letter back, then leaves.
    await click(page, wheelPoint(box, 0, 0.8));
    assert.deepEqual((await waitForMessage(page, 'search', 2)).params, { query: '' });
    await click(page, wheelPoint(box, 0, 0.8));
    await waitForScreen(page, 'Music');
    await page.close();
  });

  test('typing goes into the query and Enter plays the chosen song alone', async () => {
    const page = await openSearch(browser);
    for (const letter of 'la') await page.keyboard.press(letter);
    await page.keyboard.press(' ');
    await page.keyboard.press('b');
    assert.deepEqual((await sent(page, 'search')).map((m) => m.params.query), ['l', 'la', 'la ', 'la b']);
    // "la b" finds the album Late Bloom and its title song; the album comes first.
    await showing(page, ['Late Bloom', 'Late Bloom']);
    assert.equal((await screen(page)).selected, 'Late Bloom');
    await page.keyboard.press('ArrowDown');
    await page.keyboard.press('Enter');
    const select = await waitForMessage(page, 'select');
    assert.match(select.params.id, /^music-track:/);
    await waitForScreen(page, 'Now Playing');
    assert.equal(await page.textContent('.np-title'), 'Late Bloom');
    await page.close();
  });

  test('the strip keeps the wheel’s key in view at every size, also after a resize', async () => {
    const page = await openSearch(browser);
    const inView = () =>
      page.evaluate(() => {
        const key = document.querySelector('.search-key.current').getBoundingClientRect();
        const strip = document.querySelector('.search-strip').getBoundingClientRect();
        return key.left >= strip.left - 0.5 && key.right <= strip.right + 0.5;
      });
    for (let i = 0; i < 19; i++) await page.keyboard.press('ArrowDown');
    assert.equal((await strip(page)).key, 'T');
    for (const size of ['large', 'medium', 'small', 'tiny', 'small', 'large']) {
      await page.setViewportSize(SIZES[size]);
      await page.waitForFunction((name) => document.getElementById('device').dataset.size === name, size);
      await page.waitForTimeout(200); // the strip's slide
      assert.equal(await inView(), true, size);
    }
    await page.close();
  });

  test('an artist found opens its list, and back returns to the search as it was', async () => {
    const page = await openSearch(browser);
    for (const letter of 'mira') await page.keyboard.press(letter);
    await showing(page, ['Mira Sol']);
    await page.keyboard.press('Enter');
    assert.deepEqual((await waitForScreen(page, 'Mira Sol')).rows, ['All', 'Salt & Static']);
    await page.keyboard.press('Escape');
    await waitForScreen(page, 'Search');
    assert.equal((await strip(page)).query, 'mira');
    assert.deepEqual(await matches(page), ['Mira Sol']);
    await page.close();
  });
});
