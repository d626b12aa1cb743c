import { test } from 'node:test';
import assert from 'node:assert/strict';
import { App } from '../../../firmware/js/app.js';
import { BridgeClient } from '../../../firmware/js/bridge.js';
import { KeyboardControl } from '../../../firmware/js/controls.js';
import { DELETE_KEY, QUERY_LIMIT, STRIP, SearchSession, matchKind, withSearchRow } from '../../../firmware/js/search.js';
import { fakeClock } from '../support/clock.js';

const settle = () => new Promise((resolve) => setImmediate(resolve));
const hex = (n) => n.toString(16).toUpperCase().padStart(16, '0');
const song = (n, title) => ({ id: `music-track:${hex(n)}`, title, subtitle: 'Aster Vale', kind: 'track', hasChildren: false, playable: true });
const container = (id, title) => ({ id, title, kind: 'container', hasChildren: true, playable: false });
const MUSIC = { id: 'music', title: 'Music', items: ['Playlists', 'Artists', 'Albums', 'Songs', 'Genres'].map((t) => container(`music/${t.toLowerCase()}`, t)) };

/** An App on the search screen, over a bridge the test answers by hand, with the keyboard wired. */
async function onSearch() {
  const clock = fakeClock();
  const sent = [];
  const bridge = new BridgeClient({ post: (body) => sent.push(body), timers: clock, idPrefix: 't' });
  const calls = [];
  const view = new Proxy({}, { get: (_, name) => (...args) => calls.push([name, ...args]) });
  const app = new App({ bridge, view, sound: { tick() {}, press() {}, knock() {} }, timers: clock, now: clock.now });
  const keys = new KeyboardControl((action, argument) => app.input(action, argument), clock, () => app.typing);
  const reply = async (message, payload) => {
    bridge.resolve(message.id, payload);
    await settle();
  };
  const searches = () => sent.filter((m) => m.method === 'search');
  const searchFor = (query) => searches().find((m) => m.params.query === query);
  const answer = (query, items) => reply(searchFor(query), { result: { id: 'search', title: query, items } });
  const messages = () => calls.filter(([name]) => name === 'message').map(([, text]) => text);

  app.input('select'); // Music
  await reply(sent.at(-1), { result: MUSIC });
  const music = app.screen.rows.rowsFrom(0);
  assert.equal(music.at(-1).title, 'Search', 'Music ends with Search');
  assert.equal(music.length, 6);
  app.input('end', 1);
  app.input('select');
  assert.equal(app.screen.kind, 'search');
  return { app, sent, keys, reply, searches, searchFor, answer, messages, session: app.screen.search };
}

test('the wheel walks the strip and the centre button types; Menu takes a letter back, then leaves', async () => {
  const { app, searches, session } = await onSearch();
  app.input('rotate', STRIP.indexOf('Q'));
  assert.equal(session.selectedKey, 'Q');
  app.input('select');
  app.input('rotate', STRIP.indexOf('U') - STRIP.indexOf('Q'));
  app.input('select');
  app.input('rotate', STRIP.indexOf(' ') - STRIP.indexOf('U'));
  app.input('select');
  assert.deepEqual(searches().map((m) => m.params.query), ['q', 'qu', 'qu ']);
  app.input('rotate', 1);
  assert.equal(session.selectedKey, DELETE_KEY);
  app.input('select');
  assert.equal(session.query, 'qu');
  // Every query change is one search, deletions too.
  assert.deepEqual(searches().map((m) => m.params.query), ['q', 'qu', 'qu ', 'qu']);
  app.input('menu');
  app.input('menu');
  assert.equal(session.query, '');
  assert.deepEqual(searches().slice(-2).map((m) => m.params.query), ['q', '']);
  assert.equal(app.screen.kind, 'search');
  app.input('menu');
  assert.equal(app.screen.title, 'Music');
});

test('an older answer never replaces a newer one on screen', async () => {
  const { app, keys, answer, session } = await onSearch();
  for (const key of 'riv') keys.down(key);
  assert.equal(session.query, 'riv');
  // The answers come back newest first.
  await answer('riv', [song(1, 'Rivers')]);
  assert.deepEqual(session.items.map((r) => r.title), ['Rivers']);
  await answer('ri', [song(2, 'Rich'), song(1, 'Rivers')]);
  await answer('r', [song(3, 'Rain'), song(2, 'Rich'), song(1, 'Rivers')]);
  assert.deepEqual(session.items.map((r) => r.title), ['Rivers']);
  // In order, each newer answer shows as it comes.
  keys.down('e');
  keys.down('r');
  await answer('rive', [song(1, 'Rivers'), song(4, 'Riverside')]);
  assert.deepEqual(session.items.map((r) => r.title), ['Rivers', 'Riverside']);
  await answer('river', [song(4, 'Riverside')]);
  assert.deepEqual(session.items.map((r) => r.title), ['Riverside']);
  assert.equal(app.screen.search, session);
});

test('typed keys go into the query, the space too; Enter plays the chosen song alone', async () => {
  const { app, sent, keys, answer, reply, session } = await onSearch();
  app.volume = 35;
  for (const key of ['q', 'u', ' ', 'R', 'é']) keys.down(key);
  assert.equal(session.query, 'qu Ré');
  await answer('qu Ré', [container('music/albums/00000000000000A1', 'Quiet Reels'), song(7, 'Quiet Rééls')]);
  assert.equal(session.selectedRow.title, 'Quiet Reels', 'the first match is chosen');
  keys.down('ArrowDown');
  assert.equal(session.selectedRow.title, 'Quiet Rééls');
  keys.down('Enter');
  const select = sent.at(-1);
  assert.equal(select.method, 'select');
  assert.deepEqual(select.params, { id: song(7).id, volume: 35, shuffle: 'Off', repeat: 'Off' });
  await reply(select, { result: { transport: 'system', nowPlaying: { source: 'music', title: 'Quiet Rééls', artist: 'Aster Vale', elapsed: 0, duration: 90, isPlaying: true } } });
  assert.equal(app.screen.kind, 'nowPlaying');
});

test('Enter on an artist or album opens its list; up from the first match returns to the strip', async () => {
  const { app, sent, keys, answer, reply, session } = await onSearch();
  keys.down('a');
  await answer('a', [container('music/artists/QXN0ZXIgVmFsZQ', 'Aster Vale'), song(1, 'Aurora')]);
  keys.down('ArrowUp');
  assert.equal(session.focus, 'strip');
  assert.equal(session.selectedRow, null);
  app.input('rotate', 1);
  assert.equal(session.focus, 'strip', 'the strip goes on to its end first');
  app.input('rotate', STRIP.length - 1);
  assert.equal(session.selectedRow.title, 'Aster Vale', 'past the strip’s end, the matches');
  app.input('select');
  assert.equal(sent.at(-1).method, 'getList');
  assert.equal(sent.at(-1).params.path, 'music/artists/QXN0ZXIgVmFsZQ');
  await reply(sent.at(-1), { result: { id: 'music/artists/QXN0ZXIgVmFsZQ', title: 'Aster Vale', items: [] } });
  assert.equal(app.screen.title, 'Aster Vale');
  app.input('menu');
  assert.equal(app.screen.kind, 'search');
  assert.equal(session.query, 'a', 'back from a list keeps the search');
});

test('a search while the library is loading shows why, and its retry reads the library and searches again', async () => {
  const { app, sent, keys, answer, reply, session, messages } = await onSearch();
  keys.down('z');
  const unavailable = { id: 'music-unavailable', title: 'Retry Music Library', subtitle: 'Music library is loading…', kind: 'action', hasChildren: false, playable: false };
  await answer('z', [unavailable]);
  assert.equal(session.note, 'Music library is loading…');
  app.input('select');
  const refresh = sent.at(-1);
  assert.deepEqual([refresh.method, refresh.params], ['refreshLibrary', { path: 'music' }]);
  await reply(refresh, { result: MUSIC });
  const again = sent.at(-1);
  assert.deepEqual([again.method, again.params], ['search', { query: 'z' }]);
  await reply(again, { result: { id: 'search', title: 'z', items: [song(9, 'Zebra')] } });
  assert.equal(session.note, null);
  assert.deepEqual(session.items.map((r) => r.title), ['Zebra']);
  // A failed search says so only when it is the newest.
  keys.down('e');
  keys.down('b');
  await reply(sent.find((m) => m.params?.query === 'ze'), { error: 'Expired native request: search' });
  assert.deepEqual(messages(), []);
  await reply(sent.find((m) => m.params?.query === 'zeb'), { error: 'Expired native request: search' });
  assert.deepEqual(messages(), ['Wheelbox was too busy to do that. Try again.']);
});

test('the query stops at 200 characters and a deletion takes a whole character', () => {
  const session = new SearchSession(6);
  assert.equal(session.append('a'.repeat(QUERY_LIMIT - 1)), true);
  assert.equal(session.append('🇫🇷'), true);
  assert.equal(session.append('b'), false);
  assert.equal(session.length, QUERY_LIMIT);
  session.erase();
  assert.equal(session.query, 'a'.repeat(QUERY_LIMIT - 1));
  session.append('e\u0301');
  session.erase();
  assert.equal(session.query, 'a'.repeat(QUERY_LIMIT - 1));
  assert.equal(session.window.visibleRows, 4, 'the query and the strip take two rows');
});

test('Search ends Music whether it came whole or in a window, and never joins part of a list', () => {
  const windowed = { ...MUSIC, count: 5, offset: 0, revision: 3 };
  const cases = [
    ['whole', MUSIC, 6, undefined],
    ['one window of all its rows', windowed, 6, 6],
    ['a window that is not the first', { ...windowed, offset: 2, items: MUSIC.items.slice(2) }, 3, 5],
    ['a window short of the count', { ...windowed, count: 9 }, 5, 9],
  ];
  for (const [name, answer, rows, count] of cases) {
    const shown = withSearchRow(answer);
    assert.equal(shown.items.length, rows, name);
    assert.equal(shown.count, count, name);
    assert.equal(shown.items.filter((row) => row.title === 'Search').length, rows === 6 ? 1 : 0, name);
  }
});

test('a match is tagged by what it is', () => {
  const cases = [
    ['music/artists/QQ', 'Artist'],
    ['music/albums/00000000000000A1', 'Album'],
    ['music-track:0000000000000001', 'Song'],
    ['music/playlist/00000000000000C1', 'Playlist'],
    ['music/genres/Um9jaw', 'Genre'],
    ['music-unavailable', ''],
    [undefined, ''],
  ];
  for (const [id, kind] of cases) assert.equal(matchKind({ id }), kind, id);
});

test('outside a search, typed keys still jump and the space plays', async () => {
  const inputs = [];
  let typing = false;
  const keys = new KeyboardControl((action, argument) => inputs.push([action, argument]), fakeClock(), () => typing);
  keys.down(' ');
  keys.down('"');
  keys.down('q');
  typing = true;
  keys.down(' ');
  keys.down('"');
  keys.down('\\');
  keys.down('Backspace');
  keys.down('Enter');
  assert.deepEqual(inputs, [['playPause', undefined], ['type', 'q'], ['type', ' '], ['type', '"'], ['type', '\\'], ['menu', undefined], ['select', undefined]]);
});
