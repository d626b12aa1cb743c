// The firmware's contract with the native side: ready, pushes, sleep, hold, settings, about,
// appearance, the chassis click, and a page without a native side.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, SIZES } from '../support/browser.js';
import { choose, screen, sent, toast, waitForMessage, waitForScreen, wheelBox, wheelPoint } from '../support/device.js';
import { decodePng, luminance } from '../support/png.js';

describe('native contract', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('"ready" is sent once per load and its reading seeds Now Playing and the volume', async () => {
    const nowPlaying = { source: 'music', persistentID: '00000000000000A9', title: 'Lanterns', artist: 'The Lumen Trio', album: 'Late Bloom', elapsed: 30, duration: 90, isPlaying: false, queuePosition: 2, queueCount: 2 };
    const page = await browser.open({ standIn: { nowPlaying } });
    await waitForMessage(page, 'ready');
    await page.waitForTimeout(200);
    const ready = await sent(page, 'ready');
    assert.equal(ready.length, 1);
    assert.deepEqual(Object.keys(ready[0]).sort(), ['id', 'method', 'params', 'version']);
    assert.equal(ready[0].version, 1);
    await page.waitForFunction(() => [...document.querySelectorAll('.row-title')].some((r) => r.textContent === 'Now Playing'));
    await choose(page, 'Now Playing');
    await page.waitForSelector('.np-title');
    assert.equal(await page.textContent('.np-title'), 'Lanterns');
    assert.equal(await page.textContent('.np-queue'), '2 of 2');
    assert.equal(await page.textContent('.np-elapsed'), '0:30');
    assert.equal(await page.textContent('.np-remaining'), '-1:00');
    assert.equal(await page.getAttribute('#status-play', 'data-state'), 'paused');
    // Up sets the volume louder from the volume "ready" gave (40), two per step: the up arrow,
    // a scroll up, a clockwise turn; the down arrow and a scroll down make it quieter.
    await page.keyboard.press('ArrowUp');
    await waitForMessage(page, 'setVolume', 1);
    await page.mouse.move(235, 500);
    await page.mouse.wheel(0, -100);
    await waitForMessage(page, 'setVolume', 2);
    const box = await wheelBox(page);
    await page.mouse.move(...Object.values(wheelPoint(box, 60, 0.75)));
    await page.mouse.down();
    for (let angle = 63; angle <= 80; angle += 3) await page.mouse.move(...Object.values(wheelPoint(box, angle, 0.75)));
    await page.mouse.up();
    await waitForMessage(page, 'setVolume', 3);
    await page.waitForTimeout(450); // a new scroll gesture
    await page.mouse.wheel(0, 100);
    await page.keyboard.press('ArrowDown');
    await waitForMessage(page, 'setVolume', 5);
    assert.deepEqual((await sent(page, 'setVolume')).map((m) => m.params.volume), [42, 44, 46, 44, 42]);
    await page.close();
  });

  test('now-playing and battery pushes update the screen, with the extra volume and repeat keys', async () => {
    const page = await browser.open();
    await page.evaluate(() => {
      window.veltoNative.nowPlaying({ source: 'system', persistentID: 'spotify:track:1', title: 'Harbour Lights', artist: 'Mira Sol', album: null, elapsed: 10, duration: 240, isPlaying: true, queuePosition: null, queueCount: null, volume: 64, repeat: 'Off' });
      window.veltoNative.battery({ level: 0.15, charging: true });
    });
    await choose(page, 'Now Playing');
    await page.waitForSelector('.np-title');
    const shown = await page.evaluate(() => ({
      title: document.querySelector('.np-title').textContent,
      queue: document.querySelector('.np-queue').textContent,
      album: document.querySelector('.np-album').textContent,
      play: document.getElementById('status-play').dataset.state,
      battery: document.getElementById('status-battery').className,
      batteryHidden: document.getElementById('status-battery').hidden,
      fill: document.querySelector('.battery-fill').style.width,
    }));
    assert.deepEqual(shown, { title: 'Harbour Lights', queue: '', album: '', play: 'playing', battery: 'battery low charging', batteryHidden: false, fill: '15%' });
    await page.keyboard.press('ArrowDown');
    assert.equal((await waitForMessage(page, 'setVolume')).params.volume, 62);
    // A push with garbage must not break the screen.
    await page.evaluate(() => {
      window.veltoNative.nowPlaying({ title: null, elapsed: 'x', duration: -1 });
      window.veltoNative.battery({ level: 'full' });
      window.veltoNative.battery(null);
    });
    assert.equal(await page.textContent('.np-title'), 'Not Playing');
    assert.equal(await page.textContent('.battery-fill').then(() => page.evaluate(() => document.querySelector('.battery-fill').style.width)), '15%');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('the centre button on Now Playing scrubs and the wheel then seeks', async () => {
    const page = await browser.open();
    await page.evaluate(() => window.veltoNative.nowPlaying({ source: 'music', title: 'Static', artist: 'Mira Sol', elapsed: 100, duration: 200, isPlaying: false }));
    await choose(page, 'Now Playing');
    await page.waitForSelector('.np-title');
    await page.keyboard.press('Enter');
    assert.equal(await page.evaluate(() => document.querySelector('.np').classList.contains('scrub')), true);
    for (let i = 0; i < 3; i++) await page.keyboard.press('ArrowUp');
    const seek = await waitForMessage(page, 'seek');
    assert.deepEqual(seek.params, { seconds: 106 });
    assert.equal((await sent(page, 'setVolume')).length, 0, 'scrubbing leaves the volume alone');
    await page.close();
  });

  test('after a quiet spell the screen sleeps; the next input wakes it', async () => {
    const page = await browser.context.newPage();
    const { installStandIn } = await import('../support/standin.js');
    await page.clock.install();
    await page.setViewportSize(SIZES.large);
    await installStandIn(page);
    await page.goto(browser.server.url);
    await waitForMessage(page, 'ready');
    await page.clock.fastForward(29_000);
    assert.equal((await sent(page, 'setFirmwareAwake')).length, 0);
    await page.clock.fastForward(2_000);
    const sleep = await waitForMessage(page, 'setFirmwareAwake');
    assert.deepEqual(sleep.params, { awake: false });
    assert.equal(await page.evaluate(() => document.getElementById('screen').classList.contains('dark')), true);
    // The screen dims like an unlit LCD, not black, and no lit pixel shows at its rounded corners.
    await page.waitForTimeout(1100); // the backlight's fade runs on real time
    const lit = [238, 241, 244];
    const dim = decodePng(await page.screenshot({ clip: { x: 300, y: 285, width: 1, height: 1 } })).pixel(0, 0);
    assert.ok(luminance(dim) > 0.06 && luminance(dim) < 0.3 * luminance(lit), `dimmed background ${dim}`);
    const screenBox = await page.evaluate(() => document.getElementById('screen').getBoundingClientRect().toJSON());
    // Each corner's 6 × 6 pixels, against the pixel of the screen just inside them.
    const corners = [[screenBox.left, screenBox.top, 5, 5], [screenBox.right - 6, screenBox.top, 0, 5], [screenBox.left, screenBox.bottom - 6, 5, 0], [screenBox.right - 6, screenBox.bottom - 6, 0, 0]];
    for (const [x, y, insideX, insideY] of corners) {
      const corner = decodePng(await page.screenshot({ clip: { x: Math.floor(x), y: Math.floor(y), width: 6, height: 6 } }));
      const inside = luminance(corner.pixel(insideX, insideY));
      for (let cy = 0; cy < 6; cy++) {
        for (let cx = 0; cx < 6; cx++) assert.ok(luminance(corner.pixel(cx, cy)) <= inside * 1.1, `corner at (${x}, ${y}) +${cx},${cy}: ${corner.pixel(cx, cy)}`);
      }
    }
    // The chassis click wakes it, like any input; it asks for now playing at once and lights up
    // with it.
    await page.evaluate(() => window.veltoChassisClick());
    const wake = await waitForMessage(page, 'setFirmwareAwake', 2);
    assert.deepEqual(wake.params, { awake: true });
    await waitForMessage(page, 'getNowPlaying');
    await page.waitForFunction(() => !document.getElementById('screen').classList.contains('dark'));
    // And again through the wheel.
    await page.clock.fastForward(31_000);
    await waitForMessage(page, 'setFirmwareAwake', 3);
    await page.keyboard.press('ArrowDown');
    assert.deepEqual((await waitForMessage(page, 'setFirmwareAwake', 4)).params, { awake: true });
    assert.equal((await screen(page)).selected, 'Shuffle Songs');
    await page.close();
  });

  test('hold ignores every input and shows a lock', async () => {
    const page = await browser.open();
    await waitForMessage(page, 'ready');
    await page.evaluate(() => window.veltoFirmware.setHold(true));
    assert.equal(await page.evaluate(() => document.getElementById('status-lock').hidden), false);
    const before = (await sent(page)).length;
    const box = await wheelBox(page);
    for (const key of ['ArrowDown', 'Enter', ' ', 'Escape']) await page.keyboard.press(key);
    await page.mouse.click(wheelPoint(box, 180, 0.8).x, wheelPoint(box, 180, 0.8).y);
    await page.mouse.click(box.cx, box.cy);
    await page.mouse.move(box.cx, box.cy);
    await page.mouse.wheel(0, 100);
    await page.evaluate(() => window.veltoChassisClick());
    await page.waitForTimeout(100);
    assert.deepEqual((await sent(page)).slice(before), []);
    assert.deepEqual(await screen(page).then((s) => [s.title, s.selected]), ['Wheelbox', 'Music']);
    assert.equal(await page.evaluate(() => document.getElementById('lock-overlay').classList.contains('shown')), true);
    await page.evaluate(() => window.veltoFirmware.setHold(false));
    assert.equal(await page.evaluate(() => document.getElementById('status-lock').hidden), true);
    await page.keyboard.press('ArrowDown');
    assert.equal((await screen(page)).selected, 'Shuffle Songs');
    await page.close();
  });

  test('settings send their changes and start from what the native side reports', async () => {
    const page = await browser.open();
    await page.evaluate(() => (window.__standIn.alwaysOnTop = true));
    await choose(page, 'Settings');
    await page.waitForFunction(() => [...document.querySelectorAll('.row-value')].some((v) => v.textContent === 'On'));
    let s = await screen(page);
    assert.deepEqual(s.rows, ['Shuffle', 'Repeat', 'Source', 'Always on Top', 'Body', 'Backlight']);
    assert.deepEqual(s.values, ['Off', 'Off', 'Any Player', 'On', 'Graphite', '30 Seconds']);
    for (const row of ['Shuffle', 'Repeat', 'Repeat', 'Source', 'Always on Top']) await choose(page, row);
    await waitForMessage(page, 'setAlwaysOnTop');
    const changes = (await sent(page)).filter((m) => ['setPlaybackSetting', 'setTransport', 'setAlwaysOnTop'].includes(m.method)).map((m) => [m.method, m.params]);
    assert.deepEqual(changes, [
      ['setPlaybackSetting', { setting: 'shuffle', value: 'On' }],
      ['setPlaybackSetting', { setting: 'repeat', value: 'One' }],
      ['setPlaybackSetting', { setting: 'repeat', value: 'All' }],
      ['setTransport', { transport: 'music' }],
      ['setAlwaysOnTop', { enabled: false }],
    ]);
    s = await screen(page);
    assert.deepEqual(s.values, ['On', 'All', 'Music', 'Off', 'Graphite', '30 Seconds']);
    await choose(page, 'Refresh Library');
    assert.deepEqual((await waitForMessage(page, 'refreshLibrary')).params, { path: 'music' });
    await page.close();
  });

  test('failures on screen: normal ends show nothing, the bridge in plain words, players as they are', async () => {
    const page = await browser.open();
    await waitForMessage(page, 'ready');
    const cases = [
      ['Superseded native request: playPause', null],
      ['Cancelled native request: playPause', null],
      ['Expired native request: playPause', 'Wheelbox was too busy to do that. Try again.'],
      ['Unknown native method: playPause', 'This version of Wheelbox can’t do that.'],
      ['Music got an error: Can’t get player state.', 'Music got an error: Can’t get player state.'],
      ['Spotify is not running.', 'Spotify is not running.'],
    ];
    for (const [failure, shown] of cases) {
      await page.evaluate((text) => {
        window.__standIn.options.failures.playPause = text;
        const toast = document.getElementById('toast');
        toast.className = 'toast';
        toast.textContent = '';
      }, failure);
      const answered = (await sent(page, 'playPause')).length + 1;
      await page.keyboard.press(' ');
      await waitForMessage(page, 'playPause', answered);
      await page.waitForTimeout(50);
      assert.equal(await toast(page), shown, failure);
    }
    await page.close();
  });

  test('About shows the native record', async () => {
    const page = await browser.open();
    await choose(page, 'About');
    const about = await waitForScreen(page, 'About');
    assert.deepEqual(about.rows, ['Capacity', 'Available', 'Version', 'Serial', 'Computer']);
    assert.deepEqual(about.values, ['512.11 GB', '203.4 GB', '0.1.0', 'VTK7M2QX9PA', 'studio-desk']);
    await page.close();
  });

  test('without a native side the device still works and says it is not connected', async () => {
    const page = await browser.open({ native: false });
    await page.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
    assert.equal(await toast(page), 'Not connected to Wheelbox');
    await choose(page, 'Settings');
    assert.deepEqual((await waitForScreen(page, 'Settings')).rows[0], 'Shuffle');
    await page.keyboard.press('Escape');
    await choose(page, 'Music');
    await waitForScreen(page, 'Wheelbox');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('glare and shadow follow their amounts; the page keeps rendering frames', async () => {
    const page = await browser.open();
    const look = (glare, shadow) =>
      page.evaluate(([g, s]) => {
        window.veltoFirmware.setGlare(g);
        window.veltoFirmware.setShadow(s);
        return { glare: Number(getComputedStyle(document.getElementById('glare')).opacity), shadow: getComputedStyle(document.getElementById('body')).boxShadow };
      }, [glare, shadow]);
    const none = await look(0, 0);
    assert.deepEqual(none, { glare: 0, shadow: 'none' });
    const normal = await look(1, 1);
    const strong = await look(2, 2);
    const clamped = await look(7, -3);
    assert.ok(normal.glare > 0 && strong.glare > normal.glare, `glare ${normal.glare} < ${strong.glare}`);
    const alpha = (shadow) => Number(/rgba\([^)]*,\s*([\d.]+)\)/.exec(shadow)[1]);
    assert.ok(alpha(strong.shadow) > alpha(normal.shadow));
    assert.deepEqual(clamped, { glare: strong.glare, shadow: 'none' });
    // Each step of the slider shows: on the dark glass beside the screen and on the body.
    const spots = await page.evaluate(() => {
      const screen = document.getElementById('screen').getBoundingClientRect();
      const body = document.getElementById('body').getBoundingClientRect();
      return { glass: [Math.round(screen.left - 4), Math.round(screen.top + 60)], body: [Math.round(body.right - 10), Math.round(screen.top + 70)] };
    });
    let before = null;
    for (const amount of [0, 0.5, 1, 1.5, 2]) {
      await page.evaluate((a) => window.veltoFirmware.setGlare(a), amount);
      const seen = {};
      for (const [name, [x, y]] of Object.entries(spots)) seen[name] = decodePng(await page.screenshot({ clip: { x, y, width: 1, height: 1 } })).pixel(0, 0)[1];
      if (before) for (const name of Object.keys(spots)) assert.ok(seen[name] - before[name] >= 5, `glare ${amount} on the ${name}: ${before[name]} to ${seen[name]}`);
      before = seen;
    }
    const frames = await page.evaluate(
      () => new Promise((resolve) => {
        let n = 0;
        const tick = () => (++n < 5 ? requestAnimationFrame(tick) : resolve(n));
        requestAnimationFrame(tick);
      }),
    );
    assert.equal(frames, 5);
    await page.close();
  });

  test('the page is transparent around the body', async () => {
    const page = await browser.open();
    const picture = decodePng(await page.screenshot({ omitBackground: true }));
    assert.equal(picture.pixel(0, 0)[3], 0, 'the corner is fully transparent');
    await page.close();
  });
});
