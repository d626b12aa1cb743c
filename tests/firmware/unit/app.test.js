import { test } from 'node:test';
import assert from 'node:assert/strict';
import { App, IDLE_MS, SEEK_DEBOUNCE_MS } from '../../../firmware/js/app.js';
import { BridgeClient } from '../../../firmware/js/bridge.js';

// A clock whose timers run only when the test moves time on.
function fakeClock() {
  let now = 0;
  let next = 1;
  const timers = new Map();
  return {
    now: () => now,
    setTimeout(fn, ms = 0) {
      timers.set(next, { at: now + ms, fn });
      return next++;
    },
    clearTimeout(id) {
      timers.delete(id);
    },
    advance(ms) {
      const end = now + ms;
      for (;;) {
        const due = [...timers].filter(([, t]) => t.at <= end).sort((a, b) => a[1].at - b[1].at)[0];
        if (!due) break;
        timers.delete(due[0]);
        now = due[1].at;
        due[1].fn();
      }
      now = end;
    },
  };
}

const settle = () => new Promise((resolve) => setImmediate(resolve));

const song = (n) => ({ id: `music-track:${String(n).padStart(16, '0')}`, title: `S${n}`, subtitle: 'A', kind: 'track', hasChildren: false, playable: true });

/** An App over a bridge whose answers the test gives by hand. */
function rig() {
  const clock = fakeClock();
  const sent = [];
  const bridge = new BridgeClient({ post: (body) => sent.push(body), timers: clock, idPrefix: 't' });
  const calls = [];
  const view = new Proxy({}, { get: (_, name) => (...args) => calls.push([name, ...args]) });
  const sound = { tick() {}, press() {}, knock() {} };
  const app = new App({ bridge, view, sound, timers: clock, now: clock.now, random: () => 0 });
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
  assert.deepEqual(last('refreshLibrary').params, { path: 'music' });
  assert.equal(app.screen.loading, true);
  await answer('refreshLibrary', { result: { id: 'music', title: 'Music', items: [{ id: 'music/songs', title: 'Songs', kind: 'container', hasChildren: true, playable: false }] } });
  assert.equal(app.stack.length, 2);
  assert.equal(app.screen.items[0].title, 'Songs');
});
