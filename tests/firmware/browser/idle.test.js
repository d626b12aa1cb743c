// Nothing runs unless something moves: an idle menu and an idle Now Playing ask for no animation
// frame and run no animation, the clock redraws at most once a second without layout (paused,
// never), and asleep the page sets no timer at all.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser } from '../support/browser.js';
import { choose, sent, waitForMessage, waitForScreen } from '../support/device.js';

const PLAYING = { source: 'music', persistentID: '00000000000000C3', title: 'Static', artist: 'Mira Sol', album: 'Salt & Static', elapsed: 20, duration: 200, isPlaying: true, queuePosition: 2, queueCount: 5 };

/** What the page ran over `ms` of real time from now. */
function spell(page, ms) {
  return page.evaluate(async (wait) => {
    window.__frames = 0;
    const clock = { elapsed: 0, fill: 0, widths: 0 };
    const fill = document.querySelector('#pages .page:last-child .np-fill');
    const observer = new MutationObserver((records) => {
      for (const r of records) {
        if (r.target === fill) {
          clock.fill++;
          if (fill.style.width) clock.widths++;
        } else clock.elapsed++;
      }
    });
    if (fill) {
      observer.observe(fill, { attributes: true, attributeFilter: ['style'] });
      observer.observe(document.querySelector('#pages .page:last-child .np-elapsed'), { childList: true, characterData: true, subtree: true });
    }
    await new Promise((resolve) => setTimeout(resolve, wait));
    observer.disconnect();
    return { frames: window.__frames, animations: document.getAnimations().length, ...clock };
  }, ms);
}

describe('idle', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('an idle menu and an idle Now Playing ask for no frames; the clock ticks by the second', async () => {
    const page = await browser.open({ standIn: { nowPlaying: PLAYING } });
    await waitForMessage(page, 'ready');
    await page.waitForTimeout(600); // the page's own appearance transitions
    const menu = await spell(page, 1500);
    assert.deepEqual([menu.frames, menu.animations], [0, 0], 'menu');
    await choose(page, 'Now Playing');
    await waitForScreen(page, 'Now Playing');
    await page.waitForTimeout(1800); // the slide, and the pause before text would scroll
    const np = await spell(page, 3000);
    assert.deepEqual([np.frames, np.animations], [0, 0], 'Now Playing');
    // The clock redraws once a second, and the bar by transform only.
    assert.ok(np.elapsed >= 2 && np.elapsed <= 4, `${np.elapsed} clock redraws in 3 s`);
    assert.ok(np.fill >= 1 && np.fill <= np.elapsed, `${np.fill} bar moves in 3 s, ${np.elapsed} clock redraws`);
    assert.equal(np.widths, 0, 'the bar never changes width');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  // A short song moves the bar many pixels a second and a long one less than one: either way the
  // page redraws at most once a second, and the bar only when it moves a whole pixel. Paused,
  // nothing redraws at all.
  for (const { name, reading, most, least } of [
    { name: 'a 20-second song', reading: { duration: 20, elapsed: 2 }, least: 2, most: 4 },
    { name: 'a three-hour recording', reading: { duration: 3 * 3600, elapsed: 60 }, least: 2, most: 4 },
    { name: 'a paused song', reading: { isPlaying: false }, least: 0, most: 0 },
  ]) {
    test(`Now Playing with ${name}: at most one redraw a second`, async () => {
      const page = await browser.open({ standIn: { nowPlaying: { ...PLAYING, ...reading } } });
      await waitForMessage(page, 'ready');
      await choose(page, 'Now Playing');
      await waitForScreen(page, 'Now Playing');
      await page.waitForTimeout(1800);
      const np = await spell(page, 3000);
      assert.deepEqual([np.frames, np.animations], [0, 0]);
      assert.ok(np.elapsed >= least && np.elapsed <= most, `${np.elapsed} clock redraws in 3 s`);
      assert.ok(np.fill <= np.elapsed, `${np.fill} bar moves in 3 s, ${np.elapsed} clock redraws`);
      if (reading.duration > 3600) assert.equal(np.fill, 0, 'the bar moves less than a pixel in 3 s');
      assert.deepEqual(page.errors, []);
      await page.close();
    });
  }

  test('asleep, Now Playing sets no timer and asks for no frame; waking shows the fresh reading', async () => {
    const page = await browser.open({ standIn: { nowPlaying: PLAYING }, clock: true });
    await waitForMessage(page, 'ready');
    await choose(page, 'Now Playing');
    await page.clock.runFor(1000);
    // Music playing keeps the backlight on; paused, it goes off after its time.
    await page.clock.runFor(40_000);
    assert.equal((await sent(page, 'setFirmwareAwake')).length, 0, 'lit while playing');
    await page.keyboard.press(' ');
    await waitForMessage(page, 'playPause');
    await page.clock.runFor(1000);
    await page.clock.fastForward(31_000);
    await waitForMessage(page, 'setFirmwareAwake');
    await page.clock.runFor(2000);
    await page.evaluate(() => {
      window.__frames = 0;
      window.__timeouts = 0;
    });
    await page.clock.runFor(20_000);
    await page.waitForTimeout(1000); // transitions run on real time: let the backlight finish going out
    const asleep = await page.evaluate(() => ({ frames: window.__frames, timeouts: window.__timeouts, animations: document.getAnimations().filter((a) => a.playState === 'running').map((a) => `${a.effect?.target?.className} ${a.transitionProperty ?? a.animationName ?? ''}`) }));
    assert.deepEqual(asleep, { frames: 0, timeouts: 0, animations: [] });
    // Meanwhile the song changed: the waking screen asks and shows the new one.
    await page.evaluate(() => {
      window.__standIn.nowPlaying = { ...window.__standIn.nowPlaying, title: 'Undertow', persistentID: '00000000000000C4', isPlaying: true };
    });
    await page.keyboard.press('Enter');
    await waitForMessage(page, 'getNowPlaying');
    await page.clock.runFor(100);
    await page.waitForFunction(() => !document.getElementById('screen').classList.contains('dark'));
    assert.equal(await page.textContent('.np-title'), 'Undertow');
    await page.close();
  });
});
