// Keys with and without auto-repeat, held and tapped, and scroll events as each engine reports a
// notch at each device size.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, SIZES } from '../support/browser.js';
import { screen, sent, waitForScreen } from '../support/device.js';

const QUIET = new Set(['haptic', 'ready', 'setFirmwareAwake', 'getNowPlaying', 'getList']);

/** Plays key events: ['down', key] (a fresh press), ['repeat', key], ['up', key], ['wait', ms]. */
async function play(page, steps) {
  for (const [kind, value] of steps) {
    if (kind === 'wait') await page.waitForTimeout(value);
    else {
      await page.evaluate(
        ([type, key, repeat]) => window.dispatchEvent(new KeyboardEvent(type, { key, repeat, cancelable: true })),
        [kind === 'up' ? 'keyup' : 'keydown', value, kind === 'repeat'],
      );
    }
  }
  await page.waitForTimeout(60);
}

// A key held down: the press, then auto-repeats 40 ms apart (slower than the list answers).
const held = (key, repeats) => [['down', key], ...Array.from({ length: repeats }, () => [['wait', 40], ['repeat', key]]).flat()];

// Each case starts on the main menu with a song loaded; `messages` are the requests that follow.
const KEY_CASES = [
  { name: 'holding Space plays or pauses once', steps: [...held(' ', 8), ['up', ' ']], messages: [['playPause', {}]] },
  { name: 'Space pressed twice is two presses', steps: [['down', ' '], ['up', ' '], ['down', ' '], ['up', ' ']], messages: [['playPause', {}], ['playPause', {}]] },
  { name: 'holding Enter opens one screen', steps: [...held('Enter', 6), ['up', 'Enter']], messages: [], screen: 'Music' },
  {
    name: 'holding Escape goes back once',
    steps: [['down', 'Enter'], ['up', 'Enter'], ['wait', 100], ['down', 'Enter'], ['up', 'Enter'], ['wait', 100], ...held('Escape', 6), ['up', 'Escape']],
    messages: [],
    screen: 'Music',
  },
  { name: 'holding the down arrow keeps turning', steps: [...held('ArrowDown', 3), ['up', 'ArrowDown']], messages: [], selected: 'Now Playing' },
  { name: 'a tap on the right arrow skips forward', steps: [['down', 'ArrowRight'], ['up', 'ArrowRight']], messages: [['skip', { direction: 1 }]] },
  { name: 'a tap on the left arrow skips back', steps: [['down', 'ArrowLeft'], ['up', 'ArrowLeft']], messages: [['skip', { direction: -1 }]] },
  {
    name: 'holding the left arrow rewinds until it is let go, whatever repeats',
    steps: [...held('ArrowLeft', 3), ['wait', 550], ['repeat', 'ArrowLeft'], ['up', 'ArrowLeft']],
    messages: [['beginSeek', { direction: -1 }], ['endSeek', {}]],
  },
  { name: 'the next-track media key skips', steps: [['down', 'MediaTrackNext'], ['up', 'MediaTrackNext']], messages: [['skip', { direction: 1 }]] },
  {
    name: 'the previous-track media key held scans back',
    steps: [['down', 'MediaTrackPrevious'], ['wait', 650], ['up', 'MediaTrackPrevious']],
    messages: [['beginSeek', { direction: -1 }], ['endSeek', {}]],
  },
  { name: 'the play key (X11 calls it MediaPlay) toggles', steps: [['down', 'MediaPlay'], ['up', 'MediaPlay']], messages: [['playPause', {}]] },
  { name: 'play/pause, pause and stop keys', steps: [['down', 'MediaPlayPause'], ['down', 'MediaPause'], ['down', 'MediaStop']], messages: [['playPause', {}], ['pause', {}], ['pause', {}]] },
  { name: 'fast forward scans from the press', steps: [['down', 'MediaFastForward'], ['wait', 100], ['up', 'MediaFastForward']], messages: [['beginSeek', { direction: 1 }], ['endSeek', {}]] },
];

const PLAYING = { source: 'music', persistentID: '00000000000000C3', title: 'Static', artist: 'Mira Sol', album: 'Salt & Static', elapsed: 20, duration: 200, isPlaying: true, queuePosition: 2, queueCount: 5 };

describe('input', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('key sequences with and without auto-repeat send what a person means', async (t) => {
    const page = await browser.open({ standIn: { nowPlaying: PLAYING } });
    await page.waitForFunction(() => window.__standIn.sent.some((m) => m.method === 'ready'));
    for (const c of KEY_CASES) {
      await t.test(c.name, async () => {
        await page.evaluate(() => {
          window.__standIn.sent.length = 0;
        });
        await play(page, c.steps);
        const messages = (await sent(page)).filter((m) => !QUIET.has(m.method)).map((m) => [m.method, m.params]);
        assert.deepEqual(messages, c.messages);
        const shown = await screen(page);
        if (c.screen) assert.equal((await waitForScreen(page, c.screen)).title, c.screen);
        if (c.selected) assert.equal(shown.selected, c.selected);
        // Back to the top of the main menu for the next case.
        for (let i = 0; i < 3; i++) await play(page, [['down', 'Escape'], ['up', 'Escape'], ['wait', 80]]);
        await page.waitForTimeout(200);
        for (let i = 0; i < 6; i++) await play(page, [['down', 'ArrowUp'], ['up', 'ArrowUp']]);
        assert.equal((await screen(page)).selected, 'Music');
      });
    }
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('focus leaving the page mid-hold ends a scan without a skip', async () => {
    const page = await browser.open({ standIn: { nowPlaying: PLAYING } });
    await play(page, [['down', 'ArrowRight'], ['wait', 650]]);
    await page.evaluate(() => window.dispatchEvent(new Event('blur')));
    await play(page, [['up', 'ArrowRight']]);
    const messages = (await sent(page)).filter((m) => !QUIET.has(m.method)).map((m) => m.method);
    assert.deepEqual(messages, ['beginSeek', 'endSeek']);
    await page.close();
  });

  test('holding forward on Now Playing shows the scan and the clock runs with it', async () => {
    const page = await browser.open({ standIn: { nowPlaying: { ...PLAYING, isPlaying: false } } });
    await waitForScreen(page, 'Wheelbox');
    for (let i = 0; i < 4; i++) await play(page, [['down', 'ArrowDown'], ['up', 'ArrowDown']]);
    await play(page, [['down', 'Enter'], ['up', 'Enter']]);
    await waitForScreen(page, 'Now Playing');
    const shown = () =>
      page.evaluate(() => ({
        scan: getComputedStyle(document.querySelector('.np-scan')).display !== 'none',
        elapsed: document.querySelector('.np-elapsed').textContent,
        state: document.querySelector('.np-state').textContent,
      }));
    assert.deepEqual(await shown(), { scan: false, elapsed: '0:20', state: 'Paused' });
    await play(page, [['down', 'ArrowRight'], ['wait', 1500]]);
    const scanning = await shown();
    assert.equal(scanning.scan, true);
    assert.equal(scanning.state, 'Fast Forward');
    // A second of scanning is several seconds of the song, though the player is paused.
    const [m, s] = scanning.elapsed.split(':').map(Number);
    assert.ok(m * 60 + s >= 24, `clock at ${scanning.elapsed}`);
    await play(page, [['up', 'ArrowRight']]);
    assert.equal((await shown()).scan, false);
    await page.close();
  });

  // One notch as each engine reports it (measured with a real wheel under Xvfb): WebKitGTK
  // floor(height^(2/3)) px, Chromium 120 px; both wheelDeltaY -120. A touchpad sends small deltas.
  const notch = (height) => ({
    webkitgtk: { deltaY: Math.floor(height ** (2 / 3)), wheelDeltaY: -120 },
    chromium: { deltaY: 120, wheelDeltaY: -120 },
  });

  for (const [sizeName, size] of Object.entries(SIZES)) {
    test(`scroll notches at ${sizeName} size: one step each, in every engine's units`, async () => {
      const page = await browser.open({ size, standIn: { songCount: 300 } });
      await play(page, [['down', 'Enter'], ['up', 'Enter']]);
      await waitForScreen(page, 'Music');
      for (let i = 0; i < 3; i++) await play(page, [['down', 'ArrowDown'], ['up', 'ArrowDown']]);
      await play(page, [['down', 'Enter'], ['up', 'Enter']]);
      await waitForScreen(page, 'Songs');
      const selected = () => screen(page).then((s) => s.selectedIndex);
      const wheel = (events) =>
        page.evaluate((list) => {
          for (const init of list) {
            const event = new WheelEvent('wheel', { deltaY: init.deltaY, deltaMode: init.deltaMode ?? 0, cancelable: true });
            if (init.wheelDeltaY !== undefined) Object.defineProperty(event, 'wheelDeltaY', { value: init.wheelDeltaY });
            window.dispatchEvent(event);
          }
        }, events);
      let expected = 0;
      for (const [engine, event] of Object.entries(notch(size.height))) {
        await wheel([event, event, event]);
        expected += 3;
        assert.equal(await selected(), expected, `${engine}: three notches, three rows`);
        await page.waitForTimeout(450); // a new gesture
      }
      // A touchpad: twelve small moves add up to one notch.
      await wheel(Array.from({ length: 12 }, () => ({ deltaY: 4, wheelDeltaY: -10 })));
      assert.equal(await selected(), expected + 1, 'touchpad');
      // And up again by a wheel event as Chromium delivers its own (100 px, -120).
      const box = await page.evaluate(() => ({ x: innerWidth / 2, y: innerHeight / 2 }));
      await page.mouse.move(box.x, box.y);
      await page.waitForTimeout(450);
      await page.mouse.wheel(0, -100);
      assert.equal(await selected(), expected);
      assert.deepEqual(page.errors, []);
      await page.close();
    });
  }
});
