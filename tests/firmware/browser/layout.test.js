// The screen at each of the four device sizes: no text drawn under 9 px, no label cut off, text
// that does not fit scrolls, and the rows a list shows.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser, SIZES } from '../support/browser.js';
import { choose, screen, waitForMessage, waitForScreen } from '../support/device.js';

const PLAYING = { source: 'music', persistentID: '00000000000000C3', title: 'Harbour Lights Over the Northern Breakwater', artist: 'Mira Sol and the Long Table Orchestra', album: 'Salt & Static', elapsed: 83, duration: 247, isPlaying: true, queuePosition: 4, queueCount: 12 };
const ROWS = { large: 6, medium: 6, small: 6, tiny: 4 };

/** Text under 9 px on screen, and labels (rows with a value, the status title) that are cut off. */
function legibility(page) {
  return page.evaluate(() => {
    const scale = document.getElementById('device').getBoundingClientRect().width / 470;
    const small = [];
    for (const el of document.querySelectorAll('#screen *')) {
      const ownText = [...el.childNodes].some((n) => n.nodeType === Node.TEXT_NODE && n.textContent.trim());
      if (!ownText || !el.getClientRects().length) continue;
      const px = parseFloat(getComputedStyle(el).fontSize) * scale;
      if (px < 8.99) small.push(`${el.className} "${el.textContent.slice(0, 16)}" ${px.toFixed(2)} px`);
    }
    const clipped = [];
    const cut = (el) => el.scrollWidth > el.clientWidth + 0.5;
    for (const row of document.querySelectorAll('#pages .page:last-child .row:not([hidden])')) {
      const title = row.querySelector('.row-title');
      if (!row.querySelector('.row-value').hidden && cut(title)) clipped.push(title.textContent);
    }
    const status = document.getElementById('status-title');
    if (cut(status)) clipped.push(`status: ${status.textContent}`);
    return { small, clipped };
  });
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
    test(`${sizeName}: every screen's text is 9 px or more and no label is cut off`, async () => {
      const page = await browser.open({
        size,
        standIn: { nowPlaying: PLAYING, about: { relatedMac: 'the-long-named-workstation-in-the-back-room.local' } },
      });
      await waitForMessage(page, 'ready');
      await page.evaluate(() => window.veltoNative.battery({ level: 0.5, charging: false }));
      const seen = [];
      const check = async (name) => {
        const result = await legibility(page);
        seen.push(name);
        assert.deepEqual(result, { small: [], clipped: [] }, `${sizeName} ${name}`);
      };
      await check('main menu');
      await page.keyboard.press('Enter');
      await waitForScreen(page, 'Music');
      await check('music');
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
      const result = await legibility(unavailable);
      assert.deepEqual(result, { small: [], clipped: [] }, `${sizeName} unavailable library`);
      await unavailable.close();
    });
  }
});
