// The screen at each of the four device sizes: no text under the size's minimum, body text in
// enough contrast with what is behind it, no label cut off, text that does not fit scrolls, and the
// rows a list shows.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, SIZES } from '../support/browser.js';
import { choose, screen, waitForMessage, waitForScreen } from '../support/device.js';

const PLAYING = { source: 'music', persistentID: '00000000000000C3', title: 'Harbour Lights Over the Northern Breakwater', artist: 'Mira Sol and the Long Table Orchestra', album: 'Salt & Static', elapsed: 83, duration: 247, isPlaying: true, queuePosition: 4, queueCount: 12 };
const ROWS = { large: 6, medium: 5, small: 6, tiny: 4 };
// The smallest text on screen at each size, in screen pixels; the wheel's labels included.
const MIN_PX = { large: 11, medium: 11, small: 10, tiny: 9 };
// WCAG AA for body text: the screen's text against whatever is drawn behind it.
const MIN_CONTRAST = 4.5;

/**
 * Text drawn under `minimum` px, screen text in less contrast than MIN_CONTRAST with any colour
 * behind it, and labels (rows with a setting's value, the status title) that are cut off.
 */
function legibility(page, minimum) {
  return page.evaluate(([minPx, minContrast]) => {
    const scale = document.getElementById('device').getBoundingClientRect().width / 470;
    const parse = (text) => [...text.matchAll(/rgba?\(([^)]+)\)/g)].map((m) => m[1].split(',').map(Number)).map(([r, g, b, a = 1]) => [r, g, b, a]);
    const over = ([r, g, b, a], [R, G, B]) => [r * a + R * (1 - a), g * a + G * (1 - a), b * a + B * (1 - a), 1];
    const channel = (v) => ((v /= 255) <= 0.04045 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4);
    const lum = ([r, g, b]) => 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
    const ratio = (x, y) => (Math.max(lum(x), lum(y)) + 0.05) / (Math.min(lum(x), lum(y)) + 0.05);
    // Every opaque colour that may be behind an element: the nearest painted background's colours
    // (a gradient's stops), each laid over what is behind that one when not opaque.
    const behind = (el) => {
      for (let e = el; e; e = e.parentElement) {
        const style = getComputedStyle(e);
        const colours = [...parse(style.backgroundImage), ...parse(style.backgroundColor)].filter((c) => c[3] > 0);
        if (colours.length === 0) continue;
        const under = colours.some((c) => c[3] < 1) ? behind(e.parentElement) : [[255, 255, 255, 1]];
        return colours.flatMap((c) => (c[3] < 1 ? under.map((u) => over(c, u)) : [c]));
      }
      return [[255, 255, 255, 1]];
    };
    const shown = (el) => {
      if (!el.getClientRects().length) return false;
      let opacity = 1;
      for (let e = el; e; e = e.parentElement) {
        const style = getComputedStyle(e);
        if (style.visibility === 'hidden') return false;
        opacity *= Number(style.opacity);
      }
      return opacity > 0.5;
    };
    const small = [];
    const faint = [];
    for (const el of document.querySelectorAll('#screen *, #wheel text')) {
      const ownText = [...el.childNodes].some((n) => n.nodeType === Node.TEXT_NODE && n.textContent.trim());
      if (!ownText || !shown(el)) continue;
      const svg = el.ownerSVGElement;
      const ctm = svg && el.getScreenCTM();
      const units = svg ? Math.hypot(ctm.a, ctm.b) : scale;
      const px = parseFloat(getComputedStyle(el).fontSize) * units;
      const label = `${el.className.baseVal ?? el.className} "${el.textContent.slice(0, 16)}"`;
      if (px < minPx - 0.01) small.push(`${label} ${px.toFixed(2)} px`);
      if (svg) continue;
      const backgrounds = behind(el);
      const colour = parse(getComputedStyle(el).color)[0];
      const worst = Math.min(...backgrounds.map((b) => ratio(over(colour, b), b)));
      if (worst < minContrast) faint.push(`${label} ${worst.toFixed(2)}:1`);
    }
    const clipped = [];
    const cut = (el) => el.scrollWidth > el.clientWidth + 0.5;
    for (const row of document.querySelectorAll('#pages .page:last-child .row:not([hidden])')) {
      const title = row.querySelector('.row-title');
      const value = row.querySelector('.row-value');
      if (!value.hidden && !value.dataset.kind && cut(title)) clipped.push(title.textContent);
    }
    const status = document.getElementById('status-title');
    if (cut(status)) clipped.push(`status: ${status.textContent}`);
    return { small, faint, clipped };
  }, [minimum, MIN_CONTRAST]);
}

describe('layout', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('Now Playing: long lines take turns to scroll, and rest with an ellipsis', async () => {
    const nowPlaying = { source: 'music', title: 'Harbour Lights Over the Breakwater', artist: 'Mira Sol and the Long Table Orchestra', album: 'Salt & Static: Songs from the Lower Harbour', elapsed: 3, duration: 200, isPlaying: true };
    const page = await browser.open({ standIn: { nowPlaying } });
    await waitForMessage(page, 'ready');
    await choose(page, 'Now Playing');
    await waitForScreen(page, 'Now Playing');
    const turns = [];
    const started = Date.now();
    while (turns.filter((t) => t !== 'none').length < 4 && Date.now() - started < 20_000) {
      const lines = await page.evaluate(() =>
        ['title', 'artist', 'album'].map((name) => {
          const box = document.querySelector(`.np-${name}`);
          return { name, scrolling: box.classList.contains('scrolling'), overflows: box.scrollWidth > box.clientWidth, ellipsis: getComputedStyle(box).textOverflow === 'ellipsis' };
        }),
      );
      const moving = lines.filter((line) => line.scrolling).map((line) => line.name);
      assert.ok(moving.length <= 1, `${moving} scroll together`);
      for (const line of lines) assert.ok(!line.overflows || line.scrolling || line.ellipsis, `${line.name} rests without an ellipsis`);
      const turn = moving[0] ?? 'none';
      if (turns.at(-1) !== turn) turns.push(turn);
      await page.waitForTimeout(50);
    }
    assert.deepEqual(turns, ['none', 'title', 'none', 'artist', 'none', 'album', 'none', 'title']);
    await page.close();
  });

  for (const [sizeName, size] of Object.entries(SIZES)) {
    test(`${sizeName}: every screen's text is ${MIN_PX[sizeName]} px or more, in contrast, and no label is cut off`, async () => {
      const page = await browser.open({
        size,
        standIn: { nowPlaying: PLAYING, about: { relatedMac: 'the-long-named-workstation-in-the-back-room.local' } },
        firstStart: true,
      });
      await waitForMessage(page, 'ready');
      await page.evaluate(() => window.veltoNative.battery({ level: 0.5, charging: false }));
      const seen = [];
      const check = async (name) => {
        const result = await legibility(page, MIN_PX[sizeName]);
        seen.push(name);
        assert.deepEqual(result, { small: [], faint: [], clipped: [] }, `${sizeName} ${name}`);
      };
      const hint = () => page.evaluate(() => !document.getElementById('hint').hidden);
      assert.equal(await hint(), true, 'the first start shows where the menu is');
      await check('first start');
      // The first input puts the hint away and still acts; it never comes back.
      await page.keyboard.press('ArrowDown');
      assert.deepEqual([await hint(), (await screen(page)).selected], [false, 'Shuffle Songs']);
      await page.reload();
      await waitForMessage(page, 'ready');
      await page.evaluate(() => window.veltoNative.battery({ level: 0.5, charging: false }));
      assert.equal(await hint(), false, 'a second start');
      await check('main menu');
      await page.keyboard.press('Enter');
      await waitForScreen(page, 'Music');
      await check('music');
      await choose(page, 'Search');
      await waitForScreen(page, 'Search');
      await check('search');
      for (const letter of 'la') await page.keyboard.press(letter);
      await page.waitForFunction(() => window.__standIn.sent.filter((m) => m.method === 'search').every((m) => m.id in window.__standIn.resolvedAt) && document.querySelector('.search-query').textContent === 'la');
      await check('search matches');
      for (let i = 0; i < 3; i++) await page.keyboard.press('Escape');
      await waitForScreen(page, 'Music');
      // Search is the last row: back to the first, where the other rows are in view.
      await page.keyboard.press('Home');
      await choose(page, 'Songs');
      const songs = await waitForScreen(page, 'Songs');
      assert.equal(songs.rows.length, ROWS[sizeName], 'rows shown');
      const subtitles = await page.evaluate(() => [...document.querySelectorAll('#pages .page:last-child .row:not([hidden]) .row-subtitle')].filter((s) => !s.hidden && s.textContent).length);
      assert.equal(subtitles > 0, sizeName === 'large' || sizeName === 'medium', 'subtitles only at the larger sizes');
      await check('songs');
      await page.keyboard.press('Escape');
      await waitForScreen(page, 'Music');
      await choose(page, 'Albums');
      await waitForScreen(page, 'Albums');
      await choose(page, 'Salt & Static');
      const album = await waitForScreen(page, 'Salt & Static');
      // All five songs are by one artist: said once, not on each row.
      const caption = await page.evaluate(() => {
        const el = document.querySelector('#pages .page:last-child .list-caption');
        return el.hidden ? null : el.textContent;
      });
      if (sizeName === 'large' || sizeName === 'medium') {
        assert.equal(caption, 'Mira Sol');
        assert.equal(album.rows.length, ROWS[sizeName] - 1);
      } else {
        assert.equal(caption, null);
      }
      await check('album');
      for (let i = 0; i < 2; i++) await page.keyboard.press('Escape');
      await waitForScreen(page, 'Music');
      // Songs of one title: every row still reads differently, whether or not subtitles fit.
      await choose(page, 'Playlists');
      await waitForScreen(page, 'Playlists');
      await choose(page, 'Covers');
      await waitForScreen(page, 'Covers');
      const covers = await page.evaluate(() =>
        [...document.querySelectorAll('#pages .page:last-child .row:not([hidden])')].map((row) =>
          [...row.querySelectorAll('.row-title, .row-subtitle:not([hidden]), .row-value:not([hidden])')].map((el) => el.textContent).join(' | '),
        ),
      );
      assert.equal(new Set(covers).size, covers.length, `${sizeName}: ${JSON.stringify(covers)}`);
      await check('same titles');
      for (let i = 0; i < 3; i++) await page.keyboard.press('Escape');
      await waitForScreen(page, 'Wheelbox');
      await choose(page, 'Now Playing');
      await waitForScreen(page, 'Now Playing');
      await check('now playing');
      // The long title scrolls after a pause.
      await page.waitForFunction(() => document.querySelector('.np-title').classList.contains('scrolling'), null, { timeout: 4000 });
      await page.keyboard.press('Enter');
      await check('scrub');
      await page.keyboard.press('Escape');
      await waitForScreen(page, 'Wheelbox');
      await choose(page, 'Settings');
      await waitForScreen(page, 'Settings');
      await check('settings');
      for (let i = 0; i < 6; i++) await page.keyboard.press('ArrowDown');
      await check('settings, last rows');
      await page.keyboard.press('Escape');
      await choose(page, 'About');
      await waitForScreen(page, 'About');
      for (let i = 0; i < 4; i++) await page.keyboard.press('ArrowDown');
      assert.equal((await screen(page)).values.at(-1), 'the-long-named-workstation-in-the-back-room.local');
      await check('about'); // the long computer name gives way; its label does not
      await page.evaluate(() => {
        window.__standIn.options.failures.playPause = 'Music got an error: Can’t get player state.';
      });
      await page.keyboard.press(' ');
      await page.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
      await check('error');
      assert.deepEqual(page.errors, []);
      await page.close();

      const unavailable = await browser.open({ size, standIn: { libraryAvailable: false, unavailableReason: 'Failed to connect to MPD: Connection refused' } });
      await unavailable.keyboard.press('Enter');
      await waitForScreen(unavailable, 'Music');
      const note = await unavailable.evaluate(() => document.querySelector('#pages .page:last-child .list-note').textContent);
      assert.equal(note, 'Failed to connect to MPD: Connection refused');
      assert.deepEqual((await screen(unavailable)).rows, ['Retry Music Library']);
      const result = await legibility(unavailable, MIN_PX[sizeName]);
      assert.deepEqual(result, { small: [], faint: [], clipped: [] }, `${sizeName} unavailable library`);
      await unavailable.close();
    });
  }
});
