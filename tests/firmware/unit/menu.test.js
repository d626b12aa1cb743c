import { test } from 'node:test';
import assert from 'node:assert/strict';
import {
  aboutItems,
  disambiguator,
  isAlbumList,
  libraryAction,
  mainMenuItems,
  secondLine,
  settingChange,
  settingsItems,
  sharedSubtitle,
  spansDiscs,
} from '../../../firmware/js/menu.js';
import { EMPTY_NOW_PLAYING } from '../../../firmware/js/player.js';

const song = (n) => ({ id: `music-track:${String(n).padStart(16, '0')}`, title: `S${n}`, kind: 'track', hasChildren: false, playable: true });

test('Now Playing is offered only while something is loaded', () => {
  const titles = (np) => mainMenuItems(np).map((i) => i.title);
  assert.deepEqual(titles(EMPTY_NOW_PLAYING), ['Music', 'Shuffle Songs', 'Settings', 'About']);
  assert.deepEqual(titles({ ...EMPTY_NOW_PLAYING, source: 'music', title: 'Tidewater' }), ['Music', 'Shuffle Songs', 'Settings', 'About', 'Now Playing']);
  assert.equal(titles(null).length, 4);
});

test('settings rows cycle through their values and name the request', () => {
  const start = { shuffle: 'Off', repeat: 'All', transport: 'system', alwaysOnTop: true };
  const cases = [
    ['shuffle', { shuffle: 'On' }, 'setPlaybackSetting', { setting: 'shuffle', value: 'On' }],
    ['repeat', { repeat: 'Off' }, 'setPlaybackSetting', { setting: 'repeat', value: 'Off' }],
    ['transport', { transport: 'music' }, 'setTransport', { transport: 'music' }],
    ['alwaysOnTop', { alwaysOnTop: false }, 'setAlwaysOnTop', { enabled: false }],
  ];
  for (const [row, changed, method, params] of cases) {
    const change = settingChange(row, start);
    assert.deepEqual(change.settings, { ...start, ...changed }, row);
    assert.equal(change.method, method);
    assert.deepEqual(change.params, params);
  }
  assert.equal(settingChange('repeat', { ...start, repeat: 'Off' }).params.value, 'One');
  assert.equal(settingChange('refresh', start), null);
});

test('library rows ask for the right request', () => {
  const list = { id: 'music/albums/00000000000000A1', items: [] };
  const playback = { volume: 35, shuffle: 'Off', repeat: 'One' };
  const cases = [
    [{ id: 'music/artists', title: 'Artists', kind: 'container', hasChildren: true, playable: false }, 0, 'getList', { path: 'music/artists' }],
    [song(7), 4, 'playCollection', { path: list.id, id: song(7).id, index: 4, volume: 35, shuffle: 'Off', repeat: 'One' }],
    [{ id: 'music-unavailable', title: 'Retry Music Library', kind: 'action', hasChildren: false, playable: false }, 0, 'refreshLibrary', { path: list.id }],
  ];
  for (const [row, index, method, params] of cases) {
    const action = libraryAction(list, row, index, playback);
    assert.equal(action.method, method, row.id);
    assert.deepEqual(action.params, params);
  }
  // Rows that do nothing: an unknown action, a playable row without a song id, no row at all.
  assert.equal(libraryAction(list, { id: 'other', kind: 'action' }, 0, playback), null);
  assert.equal(libraryAction(list, { id: 'x', playable: true }, 0, playback), null);
  assert.equal(libraryAction(list, undefined, 0, playback), null);
});

test('about rows fall back to a dash for missing fields', () => {
  const rows = aboutItems({ capacity: '512 GB', available: '', version: '0.1.0', serial: 'VT23456789A', relatedMac: 42 });
  assert.deepEqual(
    rows.map((r) => [r.title, r.value]),
    [
      ['Capacity', '512 GB'],
      ['Available', '—'],
      ['Version', '0.1.0'],
      ['Serial', 'VT23456789A'],
      ['Computer', '—'],
    ],
  );
});

test('the source says what it follows', () => {
  const value = (transport) => settingsItems({ shuffle: 'Off', repeat: 'Off', transport, alwaysOnTop: false }).find((row) => row.id === 'transport').value;
  assert.deepEqual([value('system'), value('music')], ['Any Player', 'Music']);
});

test('optional row fields: an album row’s artist is its second line; album lists and discs', () => {
  const album = (title, artist) => ({ id: `music/albums/${title}`, title, kind: 'container', hasChildren: true, playable: false, ...(artist === undefined ? {} : { artist }) });
  assert.equal(secondLine(album('Late Bloom', 'The Lumen Trio')), 'The Lumen Trio');
  assert.equal(secondLine({ ...album('X', 'Artist'), subtitle: 'Said by the row' }), 'Said by the row');
  assert.equal(secondLine(album('Late Bloom')), '');
  assert.equal(secondLine(album('Late Bloom', 7)), '');
  // An artist's albums all by the artist: said once for the list.
  assert.equal(sharedSubtitle([album('A', 'Mira Sol'), album('B', 'Mira Sol')]), 'Mira Sol');
  assert.equal(sharedSubtitle([album('A', 'Mira Sol'), album('B')]), null);
  const paths = [
    ['music/albums/00000000000000A4', true],
    ['music/artists/all/00000000000000A4', true],
    ['music/artists/TWlyYSBTb2w/00000000000000A4', true],
    ['music/artists/TWlyYSBTb2w/all', false],
    ['music/artists/all/all', false],
    ['music/albums', false],
    ['music/genres/QW1iaWVudA', false],
    ['music/playlist/000000000000BEEF', false],
    ['music/albums/00000000000000a4', false],
    [null, false],
  ];
  for (const [path, expected] of paths) assert.equal(isAlbumList(path), expected, String(path));
  const track = (discNumber) => ({ id: 'music-track:1', title: 'T', ...(discNumber === undefined ? {} : { discNumber }) });
  assert.equal(spansDiscs([track(1), track(1)]), false);
  assert.equal(spansDiscs([track(1), track(), track(2)]), true);
  assert.equal(spansDiscs([track(), track()]), false);
});

test('rows of the same title keep what tells them apart', () => {
  const row = (title, subtitle) => ({ id: `music-track:${title}${subtitle}`, title, ...(subtitle === undefined ? {} : { subtitle }) });
  const items = [row('Angie', 'A'), row('Intro', 'Aster Vale'), row('Intro', 'Mira Sol'), row('Intro', 'Mira Sol'), row('Intro'), row('Outro', 'B'), row('Angie', 'C')];
  const cases = [
    // [index, second line shown, tag]
    [0, false, ''], // "Angie" twice, but apart: not seen together
    [1, false, 'Aster Vale'],
    [1, true, ''], // its second line already tells it apart
    [2, false, '(2)'], // same artist as its neighbour: its place among them
    [2, true, '(2)'],
    [3, false, '(3)'],
    [4, false, '(4)'], // no second line at all
    [5, false, ''],
  ];
  for (const [index, shown, tag] of cases) assert.equal(disambiguator(items, index, shown), tag, `${index} ${shown}`);
});
