// Pictures of every screen at the four sizes, written to out/screenshots/ for a person to look at.
// The test itself only checks that drawing them raised no page error.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { startBrowser, SIZES } from '../support/browser.js';
import { choose, waitForMessage, waitForScreen } from '../support/device.js';

const OUT = new URL('../out/screenshots/', import.meta.url);
const PLAYING = { source: 'music', persistentID: '00000000000000C3', title: 'Harbour Lights Over the Northern Breakwater', artist: 'Mira Sol', album: 'Salt & Static', elapsed: 83, duration: 247, isPlaying: true, queuePosition: 4, queueCount: 12 };

async function shoot(page, name, settle = 280) {
  await page.waitForTimeout(settle); // let the page slide finish
  await page.screenshot({ path: new URL(`${name}.png`, OUT).pathname, omitBackground: true });
}

const key = async (page, name, times = 1) => {
  for (let i = 0; i < times; i++) await page.keyboard.press(name);
};

describe('screenshots', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
    fs.mkdirSync(OUT, { recursive: true });
  });
  after(() => browser.close());

  for (const [sizeName, size] of Object.entries(SIZES)) {
    test(`every screen at ${sizeName} size`, async () => {
      const page = await browser.open({ size, standIn: { nowPlaying: PLAYING, about: { relatedMac: 'the-long-named-workstation.local' } } });
      await waitForMessage(page, 'ready');
      await page.evaluate(() => window.veltoNative.nowPlaying({ ...window.__standIn.nowPlaying, repeat: 'One' }));
      await shoot(page, `${sizeName}-menu-no-battery`);
      await page.evaluate(() => window.veltoNative.battery({ level: 0.64, charging: false }));
      await shoot(page, `${sizeName}-menu`);
      await key(page, 'Enter');
      await waitForScreen(page, 'Music');
      await shoot(page, `${sizeName}-music`);
      await choose(page, 'Search');
      await waitForScreen(page, 'Search');
      await key(page, 'ArrowDown', 11);
      await shoot(page, `${sizeName}-search`);
      await key(page, 'l');
      await key(page, 'a');
      await page.waitForFunction(() => window.__standIn.sent.filter((m) => m.method === 'search').every((m) => m.id in window.__standIn.resolvedAt) && document.querySelector('.search-query').textContent === 'la');
      await shoot(page, `${sizeName}-search-matches`);
      await key(page, 'ArrowUp');
      await shoot(page, `${sizeName}-search-strip`);
      await key(page, 'Escape', 3);
      await waitForScreen(page, 'Music');
      // Search is the last row: back to the first, where the other rows are in view.
      await key(page, 'Home');
      await choose(page, 'Songs');
      await waitForScreen(page, 'Songs');
      await key(page, 'ArrowDown', 8);
      await shoot(page, `${sizeName}-songs`);
      await shoot(page, `${sizeName}-songs-scrolling-title`, 2600);
      // A fast spin: the initial letter shows.
      await page.evaluate(() => {
        for (let i = 0; i < 30; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
      });
      await shoot(page, `${sizeName}-songs-fast`, 50);
      await key(page, 'Escape');
      await waitForScreen(page, 'Music');
      await choose(page, 'Artists');
      await waitForScreen(page, 'Artists');
      await shoot(page, `${sizeName}-artists`);
      await key(page, 'Escape');
      await waitForScreen(page, 'Music');
      await choose(page, 'Albums');
      await waitForScreen(page, 'Albums');
      await shoot(page, `${sizeName}-albums`);
      await choose(page, 'Salt & Static');
      await waitForScreen(page, 'Salt & Static');
      await shoot(page, `${sizeName}-album`);
      await key(page, 'Escape', 2);
      await waitForScreen(page, 'Music');
      await choose(page, 'Playlists');
      await waitForScreen(page, 'Playlists');
      await choose(page, 'Covers');
      await waitForScreen(page, 'Covers');
      await shoot(page, `${sizeName}-same-titles`);
      await key(page, 'Escape', 3);
      await waitForScreen(page, 'Wheelbox');
      await choose(page, 'Now Playing');
      await waitForScreen(page, 'Now Playing');
      await shoot(page, `${sizeName}-now-playing`);
      await shoot(page, `${sizeName}-now-playing-scrolling`, 2500);
      await key(page, ' ');
      await shoot(page, `${sizeName}-now-playing-paused`);
      await key(page, ' ');
      await key(page, 'ArrowDown');
      await shoot(page, `${sizeName}-volume`, 100);
      await page.waitForTimeout(1800);
      await key(page, 'Enter');
      await key(page, 'ArrowDown');
      await shoot(page, `${sizeName}-scrub`);
      await key(page, 'Enter');
      await page.keyboard.down('ArrowRight');
      await shoot(page, `${sizeName}-scan`, 1500);
      await page.keyboard.up('ArrowRight');
      await key(page, 'Escape');
      await waitForScreen(page, 'Wheelbox');
      await choose(page, 'Settings');
      await waitForScreen(page, 'Settings');
      await shoot(page, `${sizeName}-settings`);
      await choose(page, 'Body');
      await shoot(page, `${sizeName}-settings-silver`, 400);
      await key(page, 'Escape');
      await waitForScreen(page, 'Wheelbox');
      await shoot(page, `${sizeName}-silver-menu`);
      await choose(page, 'Now Playing');
      await waitForScreen(page, 'Now Playing');
      await shoot(page, `${sizeName}-silver-now-playing`);
      await key(page, 'Escape');
      await choose(page, 'Settings');
      await waitForScreen(page, 'Settings');
      await choose(page, 'Body');
      await key(page, 'Escape');
      await choose(page, 'About');
      await waitForScreen(page, 'About');
      await shoot(page, `${sizeName}-about`);
      await page.evaluate(() => {
        window.veltoNative.battery({ level: 0.12, charging: true });
        window.veltoFirmware.setHold(true);
      });
      await key(page, 'Enter');
      await shoot(page, `${sizeName}-hold`);
      await page.evaluate(() => {
        window.veltoFirmware.setHold(false);
        window.__standIn.options.failures.playPause = 'Music got an error: Can’t get player state.';
      });
      await key(page, ' ');
      await page.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
      await shoot(page, `${sizeName}-error`);
      await page.evaluate(() => {
        window.veltoFirmware.setGlare(2);
        window.veltoFirmware.setShadow(2);
      });
      await shoot(page, `${sizeName}-strong-glare-shadow`, 3800);
      // The wheel under a finger.
      const box = await page.evaluate(() => {
        const r = document.getElementById('wheel').getBoundingClientRect();
        return { x: r.left + r.width * 0.85, y: r.top + r.height * 0.3 };
      });
      await page.mouse.move(box.x, box.y);
      await page.mouse.down();
      await shoot(page, `${sizeName}-touch`, 120);
      await page.mouse.up();
      assert.deepEqual(page.errors, []);
      await page.close();

      const unavailable = await browser.open({ size, standIn: { libraryAvailable: false, unavailableReason: 'Failed to connect to MPD: Connection refused' } });
      await key(unavailable, 'Enter');
      await waitForScreen(unavailable, 'Music');
      await shoot(unavailable, `${sizeName}-library-unavailable`);
      await unavailable.close();

      const empty = await browser.open({ size, standIn: { libraryAvailable: false, noMusic: true } });
      await key(empty, 'Enter');
      await waitForScreen(empty, 'Music');
      await shoot(empty, `${sizeName}-no-music`);
      await empty.close();

      const first = await browser.open({ size, standIn: { nowPlaying: PLAYING }, firstStart: true });
      await waitForMessage(first, 'ready');
      await shoot(first, `${sizeName}-first-start`);
      await first.close();

      // The backlight goes off on paused music: the screen dims, readable.
      const unlit = await browser.open({ size, standIn: { nowPlaying: { ...PLAYING, isPlaying: false } }, clock: true });
      await waitForMessage(unlit, 'ready');
      await choose(unlit, 'Now Playing');
      await unlit.clock.runFor(1000);
      await unlit.clock.fastForward(31_000);
      await waitForMessage(unlit, 'setFirmwareAwake');
      await shoot(unlit, `${sizeName}-backlight-off`, 1200);
      await unlit.close();
    });
  }

  test('asleep, and without a native side', async () => {
    const page = await browser.context.newPage();
    const { installStandIn } = await import('../support/standin.js');
    await page.clock.install();
    await page.setViewportSize(SIZES.large);
    await installStandIn(page, { nowPlaying: PLAYING });
    await page.goto(browser.server.url);
    await waitForMessage(page, 'ready');
    await page.clock.fastForward(31_000);
    await waitForMessage(page, 'setFirmwareAwake');
    await page.waitForTimeout(1200);
    await shoot(page, 'large-asleep');
    await page.close();
    const bare = await browser.open({ size: SIZES.small, native: false });
    await bare.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
    await shoot(bare, 'small-not-connected');
    await bare.close();
  });
});
