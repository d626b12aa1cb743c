// Covers in Chromium: the stand-in gives album rows and what plays a cover's address, and the test
// server stands in for the native side's cache of them (support/server.js).

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { startBrowser } from '../support/browser.js';
import { choose, waitForScreen } from '../support/device.js';

// A picture of the album rows with their covers, for a person to look at.
const SHOTS = new URL('../out/screenshots/', import.meta.url);

const hex = (n) => n.toString(16).toUpperCase().padStart(16, '0');

// Now Playing's cover as the page shows it.
const nowPlayingCover = (page) =>
  page.evaluate(() => {
    const art = document.querySelector('#pages .page:last-child .np-art');
    const cover = art?.querySelector('.np-cover');
    return cover
      ? { shown: cover.classList.contains('shown'), finish: art.classList.contains('has-cover'), src: cover.getAttribute('src'), width: cover.naturalWidth }
      : null;
  });

// The cover of each row on screen: its picture's path, or "placeholder".
const rowCovers = (page) =>
  page.evaluate(() => {
    const current = [...document.querySelectorAll('#pages .page')].at(-1);
    if (!current.classList.contains('with-art')) return null;
    return [...current.querySelectorAll('.row:not([hidden])')]
      .sort((a, b) => a.dataset.index - b.dataset.index)
      .map((row) => {
        const art = row.querySelector('.row-art');
        return art.classList.contains('loaded') ? art.style.backgroundImage.replace(/^url\("(.*)"\)$/, '$1') : 'placeholder';
      });
  });

describe('covers', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('Now Playing shows the cover where its placeholder was, a late one as it arrives, none for a song without', async () => {
    const covers = browser.server.covers;
    covers.coverDelayMs = 0;
    const page = await browser.open({ standIn: { covers: true } });
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await choose(page, 'Albums');
    await waitForScreen(page, 'Albums');
    await choose(page, 'Northern Lines');
    await waitForScreen(page, 'Northern Lines');
    await choose(page, 'Tidewater');
    await page.waitForFunction(() => document.querySelector('.np-cover.shown'));
    const first = await nowPlayingCover(page);
    assert.deepEqual(first, { shown: true, finish: true, src: `artwork/${hex(0xa1)}-168`, width: 168 });
    const fading = () => page.evaluate(() => document.querySelector('.np-cover').classList.contains('fade'));

    // The next song's cover is still being read: its reading comes without one, and the placeholder
    // shows; the cover comes in a later push and fades in.
    await page.evaluate(() => {
      const standIn = window.__standIn;
      standIn.nowPlaying = { ...standIn.nowPlaying, title: 'Later', album: 'Copper Sky', artwork: null };
      standIn.push();
    });
    await page.waitForFunction(() => document.querySelector('.np-title').textContent === 'Later');
    assert.deepEqual(await nowPlayingCover(page), { shown: false, finish: false, src: null, width: 0 });
    covers.coverDelayMs = 300;
    await page.evaluate((address) => {
      const standIn = window.__standIn;
      standIn.nowPlaying = { ...standIn.nowPlaying, artwork: address };
      standIn.push();
    }, `velto://app/artwork/${hex(0xa2)}-168`);
    await page.waitForFunction(() => document.querySelector('.np-cover.shown'));
    assert.equal((await nowPlayingCover(page)).src, `artwork/${hex(0xa2)}-168`);
    assert.equal(await fading(), true, 'a cover that comes after its song fades in');
    const fade = await page.evaluate(() => getComputedStyle(document.querySelector('.np-cover')).transitionDuration);
    assert.notEqual(fade, '0s');

    // The next song's cover comes with it but loads slowly: the old cover stays until it has loaded.
    covers.coverDelayMs = 600;
    await page.evaluate((address) => {
      const standIn = window.__standIn;
      standIn.nowPlaying = { ...standIn.nowPlaying, title: 'Next', album: 'Late Bloom', artwork: address };
      standIn.push();
    }, `velto://app/artwork/${hex(0xa3)}-168`);
    await page.waitForFunction(() => document.querySelector('.np-title').textContent === 'Next');
    assert.equal((await nowPlayingCover(page)).src, `artwork/${hex(0xa2)}-168`, 'no placeholder between two covers');
    await page.waitForFunction((src) => document.querySelector('.np-cover').getAttribute('src') === src, `artwork/${hex(0xa3)}-168`);
    covers.coverDelayMs = 0;

    // A song without a cover, and readings whose address is none of the cache's: the placeholder.
    for (const artwork of [null, 'https://example.com/cover.png', 'velto://app/artwork/../../index.html']) {
      const before = covers.requests.length;
      await page.evaluate((address) => {
        const standIn = window.__standIn;
        standIn.nowPlaying = { ...standIn.nowPlaying, title: `No cover ${address}`, album: 'Elsewhere', artwork: address };
        standIn.push();
      }, artwork);
      await page.waitForFunction((t) => document.querySelector('.np-title').textContent === t, `No cover ${artwork}`);
      assert.deepEqual(await nowPlayingCover(page), { shown: false, finish: false, src: null, width: 0 }, String(artwork));
      assert.equal(covers.requests.length, before, 'nothing is fetched for it');
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('album rows show their covers, read once the list rests and never during a spin', async () => {
    const covers = browser.server.covers;
    covers.coverDelayMs = 0;
    const page = await browser.open({ standIn: { covers: true, albumCount: 30000 } });
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await choose(page, 'Artists');
    await waitForScreen(page, 'Artists');
    assert.equal(await rowCovers(page), null, 'a list without covers keeps its rows as they were');
    await page.keyboard.press('Escape');
    await waitForScreen(page, 'Music');
    const before = covers.requests.length;
    await choose(page, 'Albums');
    await waitForScreen(page, 'Albums');
    // Six rows: four albums with covers, one whose key ends in 0 (none), one more with a cover.
    await page.waitForFunction(() => document.querySelectorAll('#pages .page:last-child .row-art.loaded').length === 5);
    const shown = await rowCovers(page);
    fs.mkdirSync(SHOTS, { recursive: true });
    await page.screenshot({ path: new URL('covers-albums.png', SHOTS).pathname, omitBackground: true });
    assert.deepEqual(shown, [...[0xa1, 0xa2, 0xa3, 0xa4].map((n) => `artwork/${hex(n)}-64`), 'placeholder', `artwork/${hex(0x200001)}-64`]);
    assert.equal(covers.requests.length - before, shown.length, 'only the rows on screen are read');

    // A spin through the list asks for nothing until it rests; then for the rows it rests on.
    const asked = covers.requests.length;
    await page.evaluate(() => {
      for (let i = 0; i < 200; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
    });
    assert.equal(covers.requests.length, asked);
    await page.waitForFunction(() => {
      const arts = [...document.querySelectorAll('#pages .page:last-child .row:not([hidden]) .row-art')];
      return arts.length > 0 && arts.filter((art) => !art.classList.contains('loaded')).length <= 1;
    });
    const rested = covers.requests.length - asked;
    assert.ok(rested > 0 && rested <= 7, `${rested} covers read after the spin`);
    // A key ending in 0 has no cover: its row keeps the placeholder and is not asked again.
    const rows = await rowCovers(page);
    const missing = rows.filter((row) => row === 'placeholder').length;
    assert.ok(missing <= 1, JSON.stringify(rows));

    // Back up to covers seen before: they show at once, with nothing read again.
    const again = covers.requests.length;
    await page.evaluate(() => {
      for (let i = 0; i < 200; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowUp' }));
    });
    assert.deepEqual((await rowCovers(page)).slice(0, 4), [0xa1, 0xa2, 0xa3, 0xa4].map((n) => `artwork/${hex(n)}-64`));
    assert.equal(covers.requests.length, again);
    assert.deepEqual(page.errors, []);
    await page.close();
  });
});
