import { test } from 'node:test';
import assert from 'node:assert/strict';
import { App, FAST_LETTER_STEPS, IDLE_MS, READY_RETRY_MS, SEEK_DEBOUNCE_MS, WAKE_DEADLINE_MS } from '../../../firmware/js/app.js';
import { BridgeClient } from '../../../firmware/js/bridge.js';
import { pageStorage } from '../../../firmware/js/storage.js';
import { FIRST_ROWS } from '../../../firmware/js/listrows.js';
import { NO_MUSIC_HINT } from '../../../firmware/js/menu.js';
import { fakeClock } from '../support/clock.js';

const settle = () => new Promise((resolve) => setImmediate(resolve));

const song = (n) => ({ id: `music-track:${String(n).padStart(16, '0')}`, title: `S${n}`, subtitle: 'A', kind: 'track', hasChildren: false, playable: true });

/** An App over a bridge whose answers the test gives by hand. */
function rig({ prefs = null } = {}) {
  const clock = fakeClock();
  const sent = [];
  const bridge = new BridgeClient({ post: (body) => sent.push(body), timers: clock, idPrefix: 't' });
  const calls = [];
  const view = new Proxy({}, { get: (_, name) => (...args) => calls.push([name, ...args]) });
  const sound = { tick() {}, press() {}, knock() {} };
  const app = new App({ bridge, view, sound, timers: clock, now: clock.now, random: () => 0, prefs });
  const last = (method) => [...sent].reverse().find((m) => m.method === method);
  const answer = async (method, payload) => {
    const message = last(method);
    assert.ok(message, `${method} was sent`);
    bridge.resolve(message.id, payload);
    await settle();
  };
  const messages = () => calls.filter(([name]) => name === 'message').map(([, text]) => text);
  return { app, sent, clock, answer, last, messages, calls };
}

test('ready seeds the volume, transport and Now Playing', async () => {
  const { app, answer } = rig();
  app.start();
  await answer('ready', { result: { bridgeVersion: 1, transport: 'music', volume: 72, nowPlaying: { source: 'music', title: 'Glasshouse', artist: 'Aster Vale', elapsed: 3, duration: 100, isPlaying: true } } });
  assert.equal(app.volume, 72);
  assert.equal(app.settings.transport, 'music');
  assert.equal(app.player.state.title, 'Glasshouse');
  assert.equal(app.screen.items.at(-1).title, 'Now Playing');
});

test('a song row plays its list from that row with the current playback settings', async () => {
  const { app, answer, last } = rig();
  app.volume = 30;
  app.settings.repeat = 'All';
  app.input('select'); // Music
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: [song(1), song(2), song(3)] } });
  app.input('rotate', 2);
  app.input('select');
  assert.deepEqual(last('playCollection').params, { path: 'music/songs', id: song(3).id, index: 2, volume: 30, shuffle: 'Off', repeat: 'All' });
  await answer('playCollection', { result: { transport: 'system', nowPlaying: { source: 'music', title: 'S3', elapsed: 0, duration: 10, isPlaying: true } } });
  assert.equal(app.screen.kind, 'nowPlaying');
});

test('a list answer that arrives after its screen was left changes nothing', async () => {
  const { app, answer } = rig();
  app.input('select'); // Music: a loading screen
  assert.equal(app.stack.length, 2);
  app.input('menu');
  assert.equal(app.stack.length, 1);
  await answer('getList', { result: { id: 'music', title: 'Music', items: [song(1)] } });
  assert.equal(app.stack.length, 1);
  assert.equal(app.screen.kind, 'menu');
});

test('a failed list shows the native text and returns to where the user was', async () => {
  const { app, answer, messages } = rig();
  app.input('select');
  await answer('getList', { error: 'Music got an error: Can’t get library.' });
  assert.equal(app.stack.length, 1);
  assert.deepEqual(messages(), ['Music got an error: Can’t get library.']);
});

test('a setting that the native side refuses goes back to its old value', async () => {
  const { app, answer, messages } = rig();
  app.input('rotate', 2);
  app.input('select'); // Settings
  await answer('getSettings', { result: { transport: 'system', volume: 50, alwaysOnTop: true } });
  assert.equal(app.settings.alwaysOnTop, true);
  app.input('select'); // Shuffle: Off -> On
  assert.equal(app.settings.shuffle, 'On');
  app.input('rotate', 1);
  app.input('select'); // Repeat: Off -> One, while the shuffle request still waits
  await answer('setPlaybackSetting', { error: 'Music got an error: Can’t set shuffle.' });
  assert.equal(app.settings.repeat, 'Off', 'the repeat change failed and went back');
  assert.equal(app.settings.shuffle, 'On', 'the shuffle change is untouched');
  assert.deepEqual(messages(), ['Music got an error: Can’t set shuffle.']);
});

test('the screen sleeps after a quiet spell and the next input wakes it and still acts', async () => {
  const { app, sent, clock } = rig();
  app.start();
  clock.advance(IDLE_MS - 1);
  assert.equal(app.awake, true);
  clock.advance(1);
  assert.equal(app.awake, false);
  assert.deepEqual(sent.at(-1).params, { awake: false });
  app.input('rotate', 1);
  assert.equal(app.awake, true);
  const awake = sent.filter((m) => m.method === 'setFirmwareAwake');
  assert.deepEqual(awake.map((m) => m.params.awake), [false, true]);
  assert.equal(app.screen.window.selected, 1);
  clock.advance(IDLE_MS - 1);
  assert.equal(app.awake, true, 'input restarted the quiet spell');
});

test('hold refuses every input and sends nothing; an ongoing scan is ended', async () => {
  const { app, sent, calls } = rig();
  app.input('seekBegin', 1);
  app.setHold(true);
  assert.equal(sent.at(-1).method, 'endSeek');
  const before = sent.length;
  for (const [action, arg] of [['rotate', 3], ['select'], ['menu'], ['playPause'], ['skip', 1], ['chassis']]) {
    assert.equal(app.input(action, arg), false, action);
  }
  assert.equal(sent.length, before);
  assert.equal(app.screen.window.selected, 0);
  assert.ok(calls.some(([name]) => name === 'lockFlash'));
  app.setHold(false);
  assert.equal(app.input('rotate', 1), true);
});

test('scrubbing sends one seek for a burst of steps, at the final position', async () => {
  const { app, answer, sent, clock } = rig();
  app.start();
  await answer('ready', { result: { transport: 'music', volume: 50, nowPlaying: { source: 'music', title: 'T', elapsed: 50, duration: 200, isPlaying: false } } });
  app.input('rotate', 4);
  app.input('select'); // Now Playing
  assert.equal(app.screen.kind, 'nowPlaying');
  app.input('select'); // scrub
  for (let i = 0; i < 5; i++) {
    app.input('rotate', 1);
    clock.advance(50);
  }
  assert.equal(sent.filter((m) => m.method === 'seek').length, 0);
  clock.advance(SEEK_DEBOUNCE_MS);
  const seeks = sent.filter((m) => m.method === 'seek');
  assert.deepEqual(seeks.map((m) => m.params), [{ seconds: 60 }]);
});

test('a track change while scrubbing drops the scrub instead of seeking in the new track', async () => {
  const { app, sent, clock } = rig();
  app.nowPlaying({ source: 'music', persistentID: 'A', title: 'One', elapsed: 10, duration: 100, isPlaying: false });
  app.input('rotate', 4);
  app.input('select'); // Now Playing
  app.input('select'); // scrub
  app.input('rotate', 3);
  app.nowPlaying({ source: 'music', persistentID: 'B', title: 'Two', elapsed: 0, duration: 300, isPlaying: true });
  clock.advance(SEEK_DEBOUNCE_MS * 2);
  assert.equal(sent.filter((m) => m.method === 'seek').length, 0);
  assert.equal(app.screen.mode, 'volume');
});

test('the wheel on Now Playing sets the volume in clamped steps', async () => {
  const { app, answer, sent } = rig();
  app.nowPlaying({ source: 'music', title: 'T', duration: 100, isPlaying: true });
  app.volume = 97;
  app.input('rotate', 4);
  app.input('select');
  app.input('rotate', 3);
  await settle();
  assert.equal(app.volume, 100);
  assert.deepEqual(sent.filter((m) => m.method === 'setVolume').map((m) => m.params.volume), [99]);
  await answer('setVolume', {});
  assert.deepEqual(sent.filter((m) => m.method === 'setVolume').map((m) => m.params.volume), [99, 100]);
  assert.equal(sent.filter((m) => m.method === 'haptic').length, 7, 'one tap per step');
});

test('a pushed repeat and volume update the settings', () => {
  const { app } = rig();
  app.settings.repeat = 'One';
  app.nowPlaying({ source: 'system', title: 'T', repeat: 'Off', volume: 12 });
  assert.equal(app.settings.repeat, 'Off');
  assert.equal(app.volume, 12);
});

test('the retry row refreshes the library and shows the new list in place', async () => {
  const { app, answer, last } = rig();
  app.input('select');
  await answer('getList', { result: { id: 'music', title: 'Music', items: [{ id: 'music-unavailable', title: 'Retry Music Library', kind: 'action', hasChildren: false, playable: false }] } });
  app.input('select');
  assert.deepEqual(last('refreshLibrary').params, { path: 'music', offset: 0, limit: FIRST_ROWS });
  assert.equal(app.screen.loading, true);
  await answer('refreshLibrary', { result: { id: 'music', title: 'Music', items: [{ id: 'music/songs', title: 'Songs', kind: 'container', hasChildren: true, playable: false }], count: 1, offset: 0, revision: 2 } });
  assert.equal(app.stack.length, 2);
  assert.equal(app.screen.items.at(0).title, 'Songs');
});

test('a failed "ready" is sent again with growing waits, and shown only once', async () => {
  const { app, sent, clock, answer, messages } = rig();
  app.start();
  const readies = () => sent.filter((m) => m.method === 'ready').length;
  for (let attempt = 0; attempt < 3; attempt++) {
    await answer('ready', { error: 'Expired native request: ready' });
    clock.advance(READY_RETRY_MS[attempt] - 1);
    assert.equal(readies(), attempt + 1);
    clock.advance(1);
    assert.equal(readies(), attempt + 2);
  }
  assert.deepEqual(messages(), ['Wheelbox was too busy to do that. Try again.'], 'the first failure only');
  await answer('ready', { result: { bridgeVersion: 1, transport: 'music', volume: 20, nowPlaying: null } });
  assert.equal(app.ready, true);
  assert.equal(app.volume, 20);
  clock.advance(READY_RETRY_MS.at(-1) * 3);
  assert.equal(readies(), 4, 'no more once answered');
});

test('a "ready" retry due while the screen sleeps waits for it to wake', async () => {
  const { app, sent, clock, answer } = rig();
  app.start();
  const readies = () => sent.filter((m) => m.method === 'ready').length;
  clock.advance(IDLE_MS - READY_RETRY_MS[0] / 2);
  await answer('ready', { error: 'Expired native request: ready' });
  clock.advance(READY_RETRY_MS[0]);
  assert.equal(app.awake, false);
  clock.advance(READY_RETRY_MS.at(-1) * 3);
  assert.equal(readies(), 1);
  app.input('rotate', 1);
  assert.equal(readies(), 2);
});

test('without a native side "ready" is not retried', async () => {
  const clock = fakeClock();
  const view = new Proxy({}, { get: () => () => {} });
  const app = new App({ bridge: new BridgeClient({ post: null, timers: clock }), view, sound: { press() {} }, timers: clock, now: clock.now });
  await app.start();
  assert.equal(app.readyTimer, null);
});

test('waking asks for now playing at once and lights up when it is in, or after a deadline', async () => {
  const { app, sent, clock, answer } = rig();
  app.start();
  app.nowPlaying({ source: 'music', title: 'Old', isPlaying: true, duration: 100 });
  clock.advance(IDLE_MS);
  assert.deepEqual([app.awake, app.lit], [false, false]);
  app.input('chassis');
  assert.deepEqual([app.awake, app.lit], [true, false], 'dark until the reading is in');
  assert.deepEqual(sent.slice(-2).map((m) => [m.method, m.params]), [['setFirmwareAwake', { awake: true }], ['getNowPlaying', {}]]);
  await answer('getNowPlaying', { result: { source: 'music', title: 'New', isPlaying: true, duration: 100 } });
  assert.equal(app.player.state.title, 'New');
  assert.equal(app.lit, true);
  // A native side that takes its time: the screen lights at the deadline anyway.
  clock.advance(IDLE_MS);
  app.input('chassis');
  clock.advance(WAKE_DEADLINE_MS - 1);
  assert.equal(app.lit, false);
  clock.advance(1);
  assert.equal(app.lit, true);
  // A reading that arrives after the screen slept again changes nothing.
  clock.advance(IDLE_MS);
  await answer('getNowPlaying', { result: { source: 'music', title: 'Late', isPlaying: true, duration: 100 } });
  assert.equal(app.player.state.title, 'New');
  assert.equal(app.lit, false);
});

test('Shuffle Songs plays the songs shuffled and leaves the Shuffle setting as it was', async () => {
  const { app, answer, last } = rig();
  app.settings.repeat = 'All';
  app.input('rotate', 1);
  app.input('select'); // Shuffle Songs
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: [song(1), song(2)] } });
  assert.deepEqual(last('playCollection').params, { path: 'music/songs', id: song(1).id, index: 0, volume: 50, shuffle: 'On', repeat: 'All' });
  await answer('playCollection', { result: { transport: 'music', nowPlaying: { source: 'music', title: 'S1', isPlaying: true, duration: 10 } } });
  assert.equal(app.settings.shuffle, 'Off');
  assert.equal(app.screen.kind, 'nowPlaying');
  // The next song played from a list goes out with the user's setting again.
  app.input('menu');
  app.input('rotate', -1);
  app.input('select'); // Music
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: [song(1), song(2)] } });
  app.input('select');
  assert.equal(last('playCollection').params.shuffle, 'Off');
});

test('superseded and cancelled answers show nothing; a player error is shown as it is', async () => {
  const { app, answer, messages } = rig();
  app.input('playPause');
  await answer('playPause', { error: 'Superseded native request: playPause' });
  app.input('playPause');
  await answer('playPause', { error: 'Cancelled native request: playPause' });
  assert.deepEqual(messages(), []);
  app.input('playPause');
  await answer('playPause', { error: 'Spotify is not running.' });
  assert.deepEqual(messages(), ['Spotify is not running.']);
});

test('a start replaced by a later one fails silently; the latest start’s failure is shown', async () => {
  const { app, sent, answer, messages } = rig();
  app.input('select'); // Music
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: [song(1), song(2)] } });
  app.input('select');
  app.input('rotate', 1);
  app.input('select');
  const [first, second] = sent.filter((m) => m.method === 'playCollection');
  assert.equal(second.params.id, song(2).id);
  app.bridge.resolve(first.id, { error: 'Couldn’t send macOS automation.' });
  await settle();
  assert.deepEqual(messages(), []);
  await answer('playCollection', { error: 'Music can’t play this song right now.' });
  assert.deepEqual(messages(), ['Music can’t play this song right now.']);
});

test('the body colour is the firmware’s own: kept in storage, and storage that fails loses only it', async () => {
  const stored = new Map();
  const storage = { getItem: (k) => stored.get(k) ?? null, setItem: (k, v) => stored.set(k, v) };
  const worlds = [
    ['working storage', { localStorage: storage }, 'silver'],
    ['no storage', {}, 'graphite'],
    ['storage that throws on access', Object.defineProperty({}, 'localStorage', { get() { throw new Error('SecurityError'); } }), 'graphite'],
    ['storage that refuses writes', { localStorage: { getItem: () => null, setItem() { throw new Error('QuotaExceededError'); } } }, 'graphite'],
  ];
  for (const [name, win, after] of worlds) {
    const { app, sent, calls } = rig({ prefs: pageStorage(win) });
    assert.equal(app.settings.body, 'graphite', name);
    app.input('rotate', 2);
    app.input('select'); // Settings
    app.screen.window.select(app.screen.items.findIndex((row) => row.id === 'body'));
    const before = sent.length;
    assert.doesNotThrow(() => app.input('select'), name);
    assert.equal(app.settings.body, 'silver', name);
    assert.equal(sent.length, before, `${name}: nothing asked of the native side`);
    assert.ok(calls.some(([call]) => call === 'bodyChanged'), name);
    // A new page starts from what was kept.
    assert.equal(rig({ prefs: pageStorage(win) }).app.settings.body, after, name);
  }
});

test('a fast spin in a long list shows its initial letter; a slow one or a short list does not', async () => {
  const { app, answer, clock, calls } = rig();
  app.input('select'); // Music
  const items = Array.from({ length: 300 }, (_, i) => ({ ...song(i), title: `${String.fromCharCode(65 + Math.floor(i / 12))} song ${i}` }));
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items } });
  const letters = () => calls.filter(([name]) => name === 'letterShown').map(([, letter]) => letter);
  for (let i = 0; i < FAST_LETTER_STEPS; i++) {
    app.input('rotate', 1);
    clock.advance(200); // slow
  }
  assert.deepEqual(letters(), []);
  for (let i = 0; i < FAST_LETTER_STEPS + 1; i++) {
    app.input('rotate', 1);
    clock.advance(30);
  }
  assert.deepEqual(letters(), ['A']);
});

test('a list whose songs share an artist shows it once, in place of a row', async () => {
  const { app, answer } = rig();
  app.setLayout({ rows: 6, subtitles: true });
  app.input('select');
  await answer('getList', { result: { id: 'music/albums/1', title: 'Album', items: [song(1), song(2), song(3)] } });
  assert.equal(app.screen.caption, 'A');
  assert.equal(app.screen.window.visibleRows, 5);
  // At a size without subtitles the caption goes, and its row comes back.
  app.setLayout({ rows: 4, subtitles: false });
  assert.equal(app.screen.window.visibleRows, 4);
});

test('a library that cannot be shown says why, or where music goes, under its one row', async () => {
  const { app, answer } = rig();
  const row = (title, subtitle) => ({ id: 'music-unavailable', title, kind: 'action', hasChildren: false, playable: false, ...(subtitle ? { subtitle } : {}) });
  const cases = [
    [row('Retry Music Library', 'Failed to connect to MPD: Connection refused'), 'Failed to connect to MPD: Connection refused'],
    [row('Retry Music Library'), 'Wheelbox couldn’t read your music library.'],
    [row('No Music Found', 'Put music in /home/ada/Music: Wheelbox’s own MPD reads that folder.'), 'Put music in /home/ada/Music: Wheelbox’s own MPD reads that folder.'],
    [row('No Music Found', '  '), NO_MUSIC_HINT],
    [row('No Music Found'), NO_MUSIC_HINT],
  ];
  for (const [unavailable, note] of cases) {
    app.input('select');
    await answer('getList', { result: { id: 'music', title: 'Music', items: [unavailable] } });
    assert.equal(app.screen.note, note, `${unavailable.title} ${unavailable.subtitle}`);
    app.input('menu');
  }
});

test('a held back/forward scan moves the clock and ends it where the scan had got', async () => {
  const { app, clock } = rig();
  app.nowPlaying({ source: 'music', title: 'T', elapsed: 50, duration: 300, isPlaying: true });
  app.input('seekBegin', 1);
  clock.advance(1000);
  assert.equal(app.player.elapsed(), 50 + 6.25);
  app.nowPlaying({ source: 'music', title: 'T', elapsed: 58, duration: 300, isPlaying: true }); // a reading during the scan
  clock.advance(1000);
  assert.equal(app.player.elapsed(), 58 + 6.25);
  app.input('seekEnd');
  assert.equal(app.player.scan, null);
  assert.equal(app.player.elapsed(), 58 + 6.25);
});

test('a pushed reading that only moves the clock along as expected redraws nothing', () => {
  const { app, clock, calls } = rig();
  const reading = { source: 'music', persistentID: 'A', title: 'T', artist: 'X', elapsed: 10, duration: 200, isPlaying: true };
  app.nowPlaying(reading);
  const redraws = () => calls.filter(([name]) => name === 'nowPlayingChanged').length;
  const first = redraws();
  clock.advance(1000);
  app.nowPlaying({ ...reading, elapsed: 11.1 }); // where the clock was, give or take
  clock.advance(1000);
  app.nowPlaying({ ...reading, elapsed: 12, volume: 30 });
  assert.equal(redraws(), first);
  assert.equal(app.volume, 30);
  const cases = [
    ['a seek elsewhere', { ...reading, elapsed: 90 }],
    ['paused', { ...reading, elapsed: 90, isPlaying: false }],
    ['another song', { ...reading, elapsed: 90, isPlaying: false, persistentID: 'B', title: 'U' }],
    ['repeat changed by the player', { ...reading, elapsed: 90, isPlaying: false, persistentID: 'B', title: 'U', repeat: 'All' }],
  ];
  for (const [name, next] of cases) {
    const before = redraws();
    app.nowPlaying(next);
    assert.equal(redraws(), before + 1, name);
  }
});

test('a scroll moves down a list; on Now Playing up is louder, as a clockwise turn is', async () => {
  const { app, sent } = rig();
  app.input('scroll', 2);
  assert.equal(app.screen.window.selected, 2, 'down the main menu');
  app.input('scroll', -1);
  assert.equal(app.screen.window.selected, 1);
  app.nowPlaying({ source: 'music', title: 'T', duration: 100, isPlaying: true });
  app.input('end', 1);
  app.input('select'); // Now Playing
  const volumes = async (action, steps) => {
    const before = app.volume;
    app.input(action, steps);
    await settle();
    return app.volume - before;
  };
  assert.equal(await volumes('scroll', -1), 2, 'scroll up');
  assert.equal(await volumes('scroll', 1), -2, 'scroll down');
  assert.equal(await volumes('rotate', 1), 2, 'clockwise');
  assert.deepEqual(sent.filter((m) => m.method === 'setVolume').length > 0, true);
  // While scrubbing, up is later.
  app.input('select');
  const before = app.screen.scrubPosition;
  app.input('scroll', -1);
  assert.ok(app.screen.scrubPosition > before);
});

test('Home, End and pages jump; typed letters find the first row that starts with them', async () => {
  const { app, answer, clock, sent } = rig();
  app.setLayout({ rows: 6, subtitles: true });
  app.input('select'); // Music
  const titles = ['Angie', 'Halo', 'Harbour Lights', 'Harvest Moon', 'Help!', 'Hey Jude', 'Imagine', 'Jolene', 'Karma Police', 'Let It Be'];
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: titles.map((title, n) => ({ ...song(n), title })) } });
  const selected = () => app.screen.items.at(app.screen.window.selected).title;
  const haptics = () => sent.filter((m) => m.method === 'haptic').length;
  const steps = [
    // [input, argument, selected after, ms before it]
    ['end', 1, 'Let It Be'],
    ['end', -1, 'Angie'],
    ['page', 1, 'Hey Jude'],
    ['page', 1, 'Let It Be'],
    ['page', -1, 'Help!'],
    ['type', 'h', 'Halo', 2000],
    ['type', 'a', 'Halo', 100],
    ['type', 'r', 'Harbour Lights', 100],
    ['type', 'v', 'Harvest Moon', 100],
    ['type', 'x', 'Harvest Moon', 100], // "harvx": nothing starts so, the selection stays
    ['type', 'j', 'Jolene', 2000],
    ['type', 'q', 'Jolene', 2000],
  ];
  for (const [action, argument, expected, wait = 0] of steps) {
    clock.advance(wait);
    app.input(action, argument);
    assert.equal(selected(), expected, `${action} ${argument}`);
  }
  // One click a move; none where the selection stayed.
  const clicks = haptics();
  app.input('end', -1);
  app.input('end', -1);
  assert.equal(haptics(), clicks + 1);
  // A new screen starts a new search.
  clock.advance(10);
  app.input('type', 'h');
  app.input('menu');
  app.input('select');
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: titles.map((title, n) => ({ ...song(n), title })) } });
  clock.advance(10);
  app.input('type', 'a');
  assert.equal(selected(), 'Angie');
});

test('the backlight: its time is a setting of the page; Now Playing with music playing stays lit', async () => {
  const stored = new Map();
  const prefs = pageStorage({ localStorage: { getItem: (k) => stored.get(k) ?? null, setItem: (k, v) => stored.set(k, v) } });
  const { app, clock, sent } = rig({ prefs });
  app.start();
  const asleepAfter = (ms) => {
    clock.advance(ms - 1);
    const before = app.awake;
    clock.advance(1);
    return before && !app.awake;
  };
  const wake = () => app.input('chassis');
  assert.equal(asleepAfter(IDLE_MS), true, 'the default time on a menu');
  wake();
  // Settings > Backlight cycles 30 s, 1 minute, Always On, 10 s.
  app.input('end', 1);
  app.input('scroll', -1);
  app.input('select'); // Settings
  app.screen.window.select(app.screen.items.findIndex((row) => row.id === 'backlight'));
  const cases = [
    ['1 Minute', '60', 60_000],
    ['Always On', 'always', null],
    ['10 Seconds', '10', 10_000],
    ['30 Seconds', '30', 30_000],
  ];
  for (const [label, kept, ms] of cases) {
    app.input('select');
    assert.equal(app.screen.items.find((row) => row.id === 'backlight').value, label);
    assert.equal(stored.get('wheelbox.backlight'), kept);
    if (ms === null) {
      clock.advance(10 * IDLE_MS);
      assert.equal(app.awake, true, label);
    } else {
      assert.equal(asleepAfter(ms), true, label);
      wake();
    }
  }
  assert.equal(sent.filter((m) => m.method === 'setFirmwareAwake').length, 8, 'every sleep and wake told');
  // A new page starts from what was kept; a value it does not know is the default.
  stored.set('wheelbox.backlight', '10');
  assert.equal(rig({ prefs }).app.settings.backlight, '10');
  stored.set('wheelbox.backlight', '5');
  assert.equal(rig({ prefs }).app.settings.backlight, '30');
});

test('while Now Playing shows music playing the backlight stays on; its time starts when the music stops', () => {
  const { app, clock } = rig();
  app.start();
  const playing = { source: 'music', persistentID: 'A', title: 'T', elapsed: 0, duration: 3600, isPlaying: true };
  app.nowPlaying(playing);
  app.input('end', 1);
  app.input('select'); // Now Playing
  clock.advance(10 * IDLE_MS);
  assert.equal(app.awake, true, 'playing');
  app.nowPlaying({ ...playing, elapsed: 10 * IDLE_MS / 1000, isPlaying: false });
  clock.advance(IDLE_MS - 1);
  assert.equal(app.awake, true, 'the time starts at the pause');
  clock.advance(1);
  assert.equal(app.awake, false, 'paused');
  // Playing again, then leaving Now Playing: the time starts when it is left.
  app.input('playPause');
  app.nowPlaying({ ...playing, elapsed: 300 });
  clock.advance(2 * IDLE_MS);
  assert.equal(app.awake, true);
  app.input('menu');
  clock.advance(IDLE_MS);
  assert.equal(app.awake, false, 'a menu, music playing');
});

test('the shuffle mark follows what plays: Shuffle Songs, a list played in order, the setting, the player', async () => {
  const { app, answer } = rig();
  const playing = { source: 'music', title: 'S1', isPlaying: true, duration: 10 };
  assert.equal(app.shuffled, false);
  app.input('scroll', 1);
  app.input('select'); // Shuffle Songs
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: [song(1), song(2)] } });
  await answer('playCollection', { result: { transport: 'music', nowPlaying: playing } });
  assert.deepEqual([app.shuffled, app.settings.shuffle], [true, 'Off'], 'Shuffle Songs');
  app.input('menu');
  app.input('end', -1);
  app.input('select'); // Music: a list, played in order
  await answer('getList', { result: { id: 'music/songs', title: 'Songs', items: [song(1), song(2)] } });
  app.input('select');
  await answer('playCollection', { result: { transport: 'music', nowPlaying: playing } });
  assert.equal(app.shuffled, false, 'a list in order');
  app.nowPlaying({ ...playing, shuffle: 'On' });
  assert.equal(app.shuffled, true, 'the player says so');
  app.nowPlaying({ ...playing, shuffle: 'Off' });
  app.nowPlaying({ ...playing, shuffle: 'yes' });
  assert.equal(app.shuffled, false, 'only "On" and "Off" count');
  // The Shuffle setting changes what plays once the player has taken it.
  app.input('menu');
  app.input('menu');
  app.input('menu');
  app.input('end', -1);
  app.input('scroll', 2);
  app.input('select'); // Settings
  app.input('select'); // Shuffle: On
  assert.equal(app.shuffled, false);
  await answer('setPlaybackSetting', {});
  assert.equal(app.shuffled, true);
});

test('the first start shows where the menu is until the first input, which still acts, and never again', () => {
  const stored = new Map();
  const storage = { getItem: (k) => stored.get(k) ?? null, setItem: (k, v) => stored.set(k, v) };
  const worlds = [
    ['working storage', { localStorage: storage }, false],
    ['storage that refuses writes', { localStorage: { getItem: () => null, setItem() { throw new Error('QuotaExceededError'); } } }, true],
  ];
  for (const [name, win, again] of worlds) {
    const { app, calls } = rig({ prefs: pageStorage(win) });
    assert.equal(app.menuHint, true, name);
    app.setHold(true);
    app.input('rotate', 1);
    assert.equal(app.menuHint, true, `${name}: a refused input leaves it`);
    app.setHold(false);
    app.input('rotate', 1);
    assert.equal(app.menuHint, false, name);
    assert.equal(app.screen.window.selected, 1, `${name}: the input acted`);
    assert.ok(calls.some(([call]) => call === 'hintChanged'), name);
    assert.equal(rig({ prefs: pageStorage(win) }).app.menuHint, again, `${name}: the next start`);
  }
  assert.equal(rig().app.menuHint, false, 'no storage of its own: no first start to tell');
});

// --- lists that come in windows -------------------------------------------------------------------

// The native side's window of a songs list of `count` rows.
const window = (count, offset, limit, extra = {}) => ({
  id: 'music/songs',
  title: 'Songs',
  items: Array.from({ length: Math.max(0, Math.min(limit, count - offset)) }, (_, i) => song(offset + i)),
  count,
  offset,
  revision: 1,
  ...extra,
});

// Answers every waiting getList the way `respond(params)` says, until none waits.
async function answerLists(sent, bridge, respond) {
  for (;;) {
    const waiting = sent.filter((m) => m.method === 'getList' && !m.answered);
    if (!waiting.length) return;
    for (const message of waiting) {
      message.answered = true;
      bridge.resolve(message.id, { result: respond(message.params) });
    }
    await settle();
  }
}

function listRig() {
  const r = rig();
  r.bridge = r.app.bridge;
  r.openSongs = async (respond) => {
    r.app.setLayout({ rows: 6, subtitles: true });
    r.app.input('select'); // Music: stands for any list
    assert.deepEqual(r.last('getList').params, { path: 'music', offset: 0, limit: FIRST_ROWS });
    await answerLists(r.sent, r.bridge, respond);
  };
  r.windows = () => r.sent.filter((m) => m.method === 'getList').map((m) => [m.params.offset, m.params.limit]);
  return r;
}

test('a long list opens with its first rows, and the rows ahead come as the selection moves', async () => {
  const { app, sent, bridge, openSongs, windows, calls } = listRig();
  await openSongs((p) => window(300000, p.offset, p.limit));
  assert.equal(app.screen.items.length, 300000);
  assert.equal(app.screen.items.at(0).title, 'S0');
  assert.deepEqual(windows(), [[0, FIRST_ROWS]], 'the first rows are enough at the top');
  // Row by row to the end of what is at hand: the next chunk is asked for before it is reached.
  for (let i = 0; i < 60; i++) app.input('rotate', 1);
  await answerLists(sent, bridge, (p) => window(300000, p.offset, p.limit));
  assert.ok(windows().some(([offset]) => offset === FIRST_ROWS), JSON.stringify(windows()));
  for (let index = app.screen.window.top; index < app.screen.window.range.end; index++) assert.ok(app.screen.items.at(index), `row ${index}`);
  // The end of the list, a jump: its rows are fetched, and fetching never shows as busy.
  app.input('end', 1);
  await answerLists(sent, bridge, (p) => window(300000, p.offset, p.limit));
  assert.equal(app.screen.items.at(299999).title, 'S299999');
  assert.ok(!calls.some(([name]) => name === 'message'));
  assert.equal(app.busy, 0);
});

test('rows from another read of the library replace those at hand, and the screen is fetched again', async () => {
  const { app, sent, bridge, openSongs, last } = listRig();
  await openSongs((p) => window(300000, p.offset, p.limit));
  app.input('end', 1);
  await answerLists(sent, bridge, (p) => window(300000, p.offset, p.limit));
  assert.equal(app.screen.window.selected, 299999);
  // The library was read again meanwhile and shrank: the next window says so.
  for (let i = 0; i < 10; i++) app.input('page', -1);
  const shrunk = (p) => window(1000, p.offset, p.limit, { revision: 2, items: window(1000, p.offset, p.limit).items.map((r) => ({ ...r, title: `New ${r.title}` })) });
  await answerLists(sent, bridge, shrunk);
  assert.equal(app.screen.items.length, 1000);
  assert.equal(app.screen.window.selected, 999, 'the selection stays in the shorter list');
  assert.equal(app.screen.items.at(999).title, 'New S999');
  assert.equal(app.screen.items.at(0), undefined, 'nothing of the old read is kept');
  // An answer of the old read that comes late is dropped.
  app.input('end', -1);
  const late = last('getList');
  late.answered = true;
  bridge.resolve(late.id, { result: window(300000, late.params.offset, late.params.limit) });
  await settle();
  assert.equal(app.screen.items.length, 1000);
  assert.equal(app.screen.items.at(0), undefined);
});

test('Shuffle Songs asks for the length, then for the one row it draws', async () => {
  const { app, sent, last } = rig();
  const { bridge } = app;
  const answered = [];
  app.random = () => 0.5;
  app.input('rotate', 1);
  app.input('select'); // Shuffle Songs
  await answerLists(sent, bridge, (p) => {
    answered.push([p.offset, p.limit]);
    return window(300000, p.offset, p.limit);
  });
  assert.deepEqual(answered, [
    [0, 1],
    [150000, 1],
  ]);
  assert.deepEqual(last('playCollection').params, { path: 'music/songs', id: song(150000).id, index: 150000, volume: 50, shuffle: 'On', repeat: 'Off' });
});

test('a fast spin shows the initial of its section, and typed letters jump by the sections, without the rows', async () => {
  const { app, sent, bridge, clock, calls, openSongs } = listRig();
  const sections = [
    { initial: '#', index: 0 },
    { initial: 'A', index: 120 },
    { initial: 'M', index: 150000 },
    { initial: 'Я', index: 290000 },
  ];
  await openSongs((p) => window(300000, p.offset, p.limit, { sections }));
  const letters = () => calls.filter(([name]) => name === 'letterShown').map(([, letter]) => letter);
  for (let i = 0; i < 200; i++) {
    app.input('rotate', 1);
    clock.advance(15);
  }
  assert.ok(app.screen.window.selected > 150000);
  assert.deepEqual([...new Set(letters())], ['#', 'A', 'M'], 'the letters passed, though most rows never came');
  clock.advance(2000);
  app.input('type', 'я');
  assert.equal(app.screen.window.selected, 290000);
  clock.advance(2000);
  app.input('type', 'a');
  assert.equal(app.screen.window.selected, 120);
  await answerLists(sent, bridge, (p) => window(300000, p.offset, p.limit, { sections }));
});

test('more letters find their row in a long section by fetching the rows that halve it', async () => {
  const { app, sent, bridge, clock, openSongs } = listRig();
  // Titles "S000000" … "S299999" under one section: "s002999" is row 2999.
  const sections = [{ initial: 'S', index: 0 }];
  const padded = (p) => {
    const answer = window(300000, p.offset, p.limit, { sections });
    answer.items = answer.items.map((row, i) => ({ ...row, title: `S${String(p.offset + i).padStart(6, '0')}` }));
    return answer;
  };
  await openSongs(padded);
  const before = sent.length;
  clock.advance(2000);
  for (const letter of 's002999') app.input('type', letter);
  await answerLists(sent, bridge, padded);
  assert.equal(app.screen.items.at(app.screen.window.selected).title, 'S002999');
  assert.ok(sent.length - before < 60, `${sent.length - before} messages`);
  // A turn of the wheel ends a search still under way.
  clock.advance(2000);
  for (const letter of 's1') app.input('type', letter);
  app.input('rotate', 1);
  const selected = app.screen.window.selected;
  await answerLists(sent, bridge, padded);
  assert.equal(app.screen.window.selected, selected);
});
