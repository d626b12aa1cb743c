// Browsing and playing through the stand-in native side in Chromium.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { startBrowser } from '../support/browser.js';
import { choose, screen, sent, toast, waitForMessage, waitForScreen } from '../support/device.js';
import { NO_MUSIC_HINT } from '../../../firmware/js/menu.js';

describe('library', () => {
  let browser;
  before(async () => {
    browser = await startBrowser();
  });
  after(() => browser.close());

  test('browse from Music to an album song and play it', async () => {
    const page = await browser.open();
    assert.deepEqual((await screen(page)).rows, ['Music', 'Shuffle Songs', 'Settings', 'About']);
    await page.keyboard.press('Enter');
    assert.deepEqual((await waitForScreen(page, 'Music')).rows, ['Playlists', 'Artists', 'Albums', 'Songs', 'Genres', 'Search']);
    await choose(page, 'Artists');
    await waitForScreen(page, 'Artists');
    await choose(page, 'Mira Sol');
    assert.deepEqual((await waitForScreen(page, 'Mira Sol')).rows, ['All', 'Salt & Static']);
    await choose(page, 'Salt & Static');
    const album = await waitForScreen(page, 'Salt & Static');
    assert.deepEqual(album.rows, ['Salt', 'Static', 'Undertow', 'Harbour Lights', 'Last Ferry']);
    // An album's songs show their track numbers and lengths when the rows carry them.
    const details = () =>
      page.evaluate(() =>
        [...document.querySelectorAll('#pages .page:last-child .row:not([hidden])')].map((row) => [row.querySelector('.row-number').textContent, row.querySelector('.row-value').textContent, row.querySelector('.row-subtitle').textContent]),
      );
    const shown = await details();
    assert.deepEqual(shown.map(([number]) => number), ['1', '2', '3', '4', '5']);
    assert.ok(shown.every(([, value]) => /^\d:\d\d$/.test(value)), JSON.stringify(shown));
    await choose(page, 'Undertow');
    const play = await waitForMessage(page, 'playCollection');
    const lists = await sent(page, 'getList');
    assert.deepEqual(play.params, {
      path: lists.at(-1).params.path,
      id: play.params.id,
      index: 2,
      volume: 40, // from "ready"
      shuffle: 'Off',
      repeat: 'Off',
    });
    assert.match(play.params.id, /^music-track:[0-9A-F]{16}$/);
    await page.waitForSelector('.np-title');
    const np = await page.evaluate(() => ({
      title: document.querySelector('.np-title').textContent,
      artist: document.querySelector('.np-artist').textContent,
      queue: document.querySelector('.np-queue').textContent,
      status: document.getElementById('status-title').textContent,
      playState: document.getElementById('status-play').dataset.state,
    }));
    assert.deepEqual(np, { title: 'Undertow', artist: 'Mira Sol', queue: '3 of 5', status: 'Now Playing', playState: 'playing' });
    // MENU back to the main menu, which now offers Now Playing.
    for (let i = 0; i < 6; i++) await page.keyboard.press('Escape');
    assert.deepEqual((await waitForScreen(page, 'Wheelbox')).rows.at(-1), 'Now Playing');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('rows without the optional fields look as before; albums carry their artist', async () => {
    const page = await browser.open();
    const rows = () =>
      page.evaluate(() =>
        [...document.querySelectorAll('#pages .page:last-child .row:not([hidden])')].map((row) => [row.querySelector('.row-number').textContent, row.querySelector('.row-title').textContent, row.querySelector('.row-subtitle').textContent, row.querySelector('.row-value').textContent]),
      );
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await choose(page, 'Albums');
    await waitForScreen(page, 'Albums');
    assert.deepEqual((await rows())[2], ['', 'Late Bloom', 'The Lumen Trio', '']);
    await page.keyboard.press('Escape');
    await waitForScreen(page, 'Music');
    // A genre's songs come from several albums: no track numbers there, though the rows carry them.
    await choose(page, 'Genres');
    await waitForScreen(page, 'Genres');
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Ambient');
    assert.deepEqual((await rows())[0], ['', 'Overture', '', '']);
    // The songs list's rows carry no optional field: as ever.
    await page.keyboard.press('Escape');
    await page.keyboard.press('Escape');
    await waitForScreen(page, 'Music');
    await choose(page, 'Songs');
    await waitForScreen(page, 'Songs');
    assert.deepEqual((await rows())[0], ['', 'Song 000001', 'Aster Vale', '']);
    await page.close();
  });

  test('the 100,000-song list draws only its visible rows and reaches both ends', async () => {
    const page = await browser.open();
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await choose(page, 'Songs');
    let songs = await waitForScreen(page, 'Songs');
    assert.equal(songs.rows[0], 'Song 000001');
    assert.ok(songs.rowElements <= 7, `${songs.rowElements} row elements`);
    // The keys that jump: typed letters (quickly, one search; the rows that decide it are fetched
    // as it goes), End, Home, a page.
    await page.keyboard.type('song05');
    const selectedIs = (title) => page.waitForFunction((t) => document.querySelector('#pages .page:last-child .row.selected .row-title')?.textContent === t, title);
    await selectedIs('Song 050000');
    for (const [key, title] of [['End', 'Song 100000'], ['Home', 'Song 000001'], ['PageDown', 'Song 000007'], ['PageUp', 'Song 000001']]) {
      await page.keyboard.press(key);
      await selectedIs(title);
    }
    // A long fast spin accelerates far beyond one row per step.
    await page.evaluate(() => {
      for (let i = 0; i < 120; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
    });
    songs = await screen(page);
    assert.ok(songs.selectedIndex > 1000, `spun to ${songs.selectedIndex}`);
    // And all the way to the end, where the thumb rests on the bottom of its track.
    await page.evaluate(() => {
      for (let i = 0; i < 400; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'ArrowDown' }));
    });
    await selectedIs('Song 100000');
    songs = await screen(page);
    assert.equal(songs.rows.at(-1), 'Song 100000');
    const thumb = await page.evaluate(() => {
      const page = [...document.querySelectorAll('#pages .page')].at(-1);
      const track = page.querySelector('.scrollbar').getBoundingClientRect();
      const t = page.querySelector('.scroll-thumb').getBoundingClientRect();
      return { bottomGap: track.bottom - t.bottom, height: t.height };
    });
    assert.ok(Math.abs(thumb.bottomGap) < 0.5, `thumb ends ${thumb.bottomGap}px above the track's end`);
    assert.ok(thumb.height >= 5, 'the thumb stays visible');
    // A slow step afterwards moves one row.
    await page.waitForTimeout(150);
    await page.keyboard.press('ArrowUp');
    assert.equal((await screen(page)).selected, 'Song 099999');
    // Playing it and coming back finds the list as it was, scroll bar included.
    await page.keyboard.press('Enter');
    await page.waitForSelector('.np-title');
    await page.keyboard.press('Escape');
    songs = await waitForScreen(page, 'Songs');
    assert.equal(songs.selected, 'Song 099999');
    assert.equal(await page.evaluate(() => getComputedStyle(document.querySelector('#pages .page:last-child .scrollbar')).display), 'block');
    await page.close();
  });

  test('a list shown while the library is read again gets the new rows as soon as it moves', async () => {
    const page = await browser.open({ standIn: { songCount: 5000 } });
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await choose(page, 'Songs');
    await waitForScreen(page, 'Songs');
    const selectedIs = (title) => page.waitForFunction((t) => document.querySelector('#pages .page:last-child .row.selected .row-title')?.textContent === t, title);
    await page.keyboard.press('End');
    await selectedIs('Song 005000');
    // The native side reads the library again: 300 songs now. The next window says so.
    await page.evaluate(() => {
      window.__standIn.revision++;
      window.__standIn.options.songCount = 300;
    });
    for (let i = 0; i < 10; i++) await page.keyboard.press('PageUp');
    await page.waitForFunction(() => Number(document.querySelector('#pages .page:last-child .row.selected')?.dataset.index) < 300);
    await page.keyboard.press('End');
    await selectedIs('Song 000300');
    const shown = await screen(page);
    assert.deepEqual(shown.rows, ['Song 000295', 'Song 000296', 'Song 000297', 'Song 000298', 'Song 000299', 'Song 000300']);
    await page.keyboard.press('Home');
    await selectedIs('Song 000001');
    assert.deepEqual(page.errors, []);
    await page.close();
  });

  test('a native error is shown on the screen and the device stays where it was', async () => {
    const page = await browser.open({ standIn: { failures: { playCollection: 'Music got an error: Can’t get current track.' } } });
    await page.keyboard.press('Enter');
    await waitForScreen(page, 'Music');
    await choose(page, 'Albums');
    await waitForScreen(page, 'Albums');
    await choose(page, 'Copper Sky');
    await waitForScreen(page, 'Copper Sky');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.getElementById('toast').classList.contains('shown'));
    assert.equal(await toast(page), 'Music got an error: Can’t get current track.');
    assert.equal((await screen(page)).title, 'Copper Sky');
    // An unknown path from the native side is reported the same way, and the list is left.
    await page.evaluate(() => (window.__standIn.options.failures = { getList: 'Unknown library path: music/albums' }));
    await page.keyboard.press('Escape');
    await waitForScreen(page, 'Albums');
    await page.keyboard.press('Enter');
    await page.waitForFunction(() => document.getElementById('toast').textContent === 'That list is no longer in your library.');
    assert.equal((await waitForScreen(page, 'Albums')).title, 'Albums');
    await page.close();
  });

  test('an unavailable library offers a retry that refreshes it', async () => {
    const page = await browser.open({ standIn: { libraryAvailable: false } });
    await page.keyboard.press('Enter');
    assert.deepEqual((await waitForScreen(page, 'Music')).rows, ['Retry Music Library']);
    await page.keyboard.press('Enter');
    const refresh = await waitForMessage(page, 'refreshLibrary');
    assert.deepEqual(refresh.params, { path: 'music', offset: 0, limit: 100 });
    await page.waitForFunction(() => document.querySelectorAll('#pages .page:last-child .row:not([hidden])').length === 6);
    assert.deepEqual((await screen(page)).rows, ['Playlists', 'Artists', 'Albums', 'Songs', 'Genres', 'Search']);
    await page.close();
  });

  test('an empty library says where music goes: the native side’s words, else our own', async () => {
    const folder = 'Put music in /home/ada/Music: Wheelbox’s own MPD reads that folder.';
    for (const [standIn, note] of [[{ unavailableReason: folder }, folder], [{}, NO_MUSIC_HINT]]) {
      const page = await browser.open({ standIn: { libraryAvailable: false, noMusic: true, ...standIn } });
      await page.keyboard.press('Enter');
      assert.deepEqual((await waitForScreen(page, 'Music')).rows, ['No Music Found']);
      assert.equal(await page.evaluate(() => document.querySelector('#pages .page:last-child .list-note').textContent), note);
      await page.close();
    }
  });

  test('Shuffle Songs plays the songs list shuffled from a song row', async () => {
    const page = await browser.open({ standIn: { songCount: 50 } });
    await choose(page, 'Shuffle Songs');
    const play = await waitForMessage(page, 'playCollection');
    assert.equal(play.params.path, 'music/songs');
    assert.equal(play.params.shuffle, 'On');
    assert.ok(Number.isInteger(play.params.index) && play.params.index >= 0 && play.params.index < 50);
    assert.equal(play.params.id, `music-track:${(0x100000 + play.params.index).toString(16).toUpperCase().padStart(16, '0')}`);
    await page.waitForSelector('.np-title');
    // Shuffled, though the Shuffle setting stays off: the mark says so.
    assert.equal(await page.evaluate(() => document.querySelector('.np-mode.shuffle').hidden), false);
    await page.close();
  });
});
