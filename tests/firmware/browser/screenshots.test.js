// Pictures of the main screens at the largest and the smallest size, written to out/ for a person
// to look at. The test itself only checks that drawing them raised no page error.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import { startBrowser, SIZES } from '../support/browser.js';
import { choose, waitForScreen } from '../support/device.js';

const OUT = new URL('../out/screenshots/', import.meta.url);
const PLAYING = { source: 'music', persistentID: '00000000000000C3', title: 'Harbour Lights Over the Northern Breakwater', artist: 'Mira Sol', album: 'Salt & Static', elapsed: 83, duration: 247, isPlaying: true, queuePosition: 4, queueCount: 12 };

async function shoot(page, name) {
  await page.waitForTimeout(280); // let the page slide finish
  await page.screenshot({ path: new URL(`${name}.png`, OUT).pathname, omitBackground: true });
}

describe('screenshots', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
    fs.mkdirSync(OUT, { recursive: true });
  });
  after(() => browser.close());

  for (const [sizeName, size] of [['large', SIZES.large], ['tiny', SIZES.tiny]]) {
    test(`main screens at ${sizeName} size`, async () => {
      const page = await browser.open({ size, standIn: { nowPlaying: PLAYING } });
      // Repeat One shows its badge on Now Playing.
      await page.evaluate(() => window.veltoNative.nowPlaying({ ...window.__standIn.nowPlaying, repeat: 'One' }));
      await page.evaluate(() => window.veltoNative.battery({ level: 0.64, charging: false }));
      await page.waitForFunction(() => [...document.querySelectorAll('.row-title')].some((r) => r.textContent === 'Now Playing'));
      await shoot(page, `${sizeName}-menu`);
      await page.keyboard.press('Enter');
      await waitForScreen(page, 'Music');
      await choose(page, 'Songs');
      await waitForScreen(page, 'Songs');
      for (let i = 0; i < 8; i++) await page.keyboard.press('ArrowDown');
      await shoot(page, `${sizeName}-songs`);
      await page.keyboard.press('Escape');
      await waitForScreen(page, 'Music');
      await choose(page, 'Artists');
      await waitForScreen(page, 'Artists');
      await shoot(page, `${sizeName}-artists`);
      for (let i = 0; i < 2; i++) await page.keyboard.press('Escape');
      await waitForScreen(page, 'Wheelbox');
      await choose(page, 'Now Playing');
      await page.waitForSelector('.np-title');
      await shoot(page, `${sizeName}-now-playing`);
      await page.keyboard.press('ArrowDown');
      await shoot(page, `${sizeName}-volume`);
      await page.keyboard.press('Enter');
      await page.keyboard.press('ArrowDown');
      await shoot(page, `${sizeName}-scrub`);
      await page.keyboard.press('Escape');
      await waitForScreen(page, 'Wheelbox');
      await choose(page, 'Settings');
      await waitForScreen(page, 'Settings');
      await shoot(page, `${sizeName}-settings`);
      await page.keyboard.press('Escape');
      await choose(page, 'About');
      await waitForScreen(page, 'About');
      await shoot(page, `${sizeName}-about`);
      await page.evaluate(() => {
        window.veltoNative.battery({ level: 0.12, charging: true });
        window.veltoFirmware.setHold(true);
      });
      await page.keyboard.press('Enter');
      await shoot(page, `${sizeName}-hold`);
      await page.evaluate(() => {
        window.veltoFirmware.setHold(false);
        window.veltoFirmware.setGlare(2);
        window.veltoFirmware.setShadow(2);
      });
      await page.waitForTimeout(1200);
      await shoot(page, `${sizeName}-strong-glare-shadow`);
      assert.deepEqual(page.errors, []);
      await page.close();
    });
  }

  test('error and unavailable library', async () => {
    const page = await browser.open({ standIn: { libraryAvailable: false, failures: { playPause: 'Music got an error: Can’t get player state.' } } });
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await page.keyboard.press(' ');
    await page.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
    await shoot(page, 'large-error');
    const bare = await browser.open({ size: SIZES.tiny, native: false });
    await bare.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
    await shoot(bare, 'tiny-not-connected');
    await page.close();
    await bare.close();
  });
});
