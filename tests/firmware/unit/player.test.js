import { test } from 'node:test';
import assert from 'node:assert/strict';
import { EMPTY_NOW_PLAYING, PlayerModel, clampVolume, normalizeNowPlaying } from '../../../firmware/js/player.js';

test('a malformed reading becomes a safe one field by field', () => {
  assert.deepEqual(normalizeNowPlaying(null), EMPTY_NOW_PLAYING);
  const state = normalizeNowPlaying({
    source: 'music',
    title: 7,
    artist: null,
    album: 'Copper Sky',
    elapsed: -4,
    duration: NaN,
    isPlaying: 'yes',
    queuePosition: 2.5,
    queueCount: 12,
    volume: 30,
    artwork: 'file:///etc/passwd',
  });
  assert.deepEqual(state, {
    source: 'music',
    persistentID: null,
    title: 'Not Playing',
    artist: '',
    album: 'Copper Sky',
    elapsed: 0,
    duration: 0,
    isPlaying: false,
    queuePosition: null,
    queueCount: 12,
    artwork: null,
  });
  assert.equal(normalizeNowPlaying({ artwork: 'velto://app/artwork/00000000000000A1-168' }).artwork, 'artwork/00000000000000A1-168');
});

test('the clock runs between readings only while playing, and stops at the end', () => {
  let now = 0;
  const model = new PlayerModel(() => now);
  model.update({ source: 'music', title: 'A', elapsed: 10, duration: 12, isPlaying: true });
  now = 1500;
  assert.equal(model.elapsed(), 11.5);
  now = 9000;
  assert.equal(model.elapsed(), 12);
  assert.equal(model.progress(), 1);
  model.update({ source: 'music', title: 'A', elapsed: 5, duration: 12, isPlaying: false });
  now = 20000;
  assert.equal(model.elapsed(), 5);
});

test('volume clamps', () => {
  const cases = [
    [150, 100],
    [-1, 0],
    [NaN, 50],
    ['60', 50],
    [42.5, 42.5],
  ];
  for (const [input, output] of cases) assert.equal(clampVolume(input), output);
});
