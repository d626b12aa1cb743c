import { test } from 'node:test';
import assert from 'node:assert/strict';
import { MISSING_RETRY_MS, RowArtwork, artworkPath, listHasArtwork } from '../../../firmware/js/artwork.js';

test('only a cover entry’s address is a cover, and it loads relative to the page', () => {
  assert.equal(artworkPath('velto://app/artwork/00FF12AB34CD56EF-168'), 'artwork/00FF12AB34CD56EF-168');
  assert.equal(artworkPath('velto://app/artwork/00FF12AB34CD56EF-64'), 'artwork/00FF12AB34CD56EF-64');
  for (const other of [
    null,
    undefined,
    42,
    '',
    'artwork/00FF12AB34CD56EF-168',
    'velto://app/artwork/00ff12ab34cd56ef-168',
    'velto://app/artwork/../index.html',
    'velto://app/artwork/%2e%2e',
    'velto://app/artwork/00FF12AB34CD56EF-168/x',
    'velto://app/artwork/00FF12AB34CD56EF-168?x',
    'velto://app/artwork/00FF12AB34CD56EF-168")',
    'velto://app/artwork/00FF12AB34CD56EF-168\n',
    'velto://other/artwork/00FF12AB34CD56EF-168',
    'https://example.com/artwork/00FF12AB34CD56EF-168',
    'file:///etc/passwd',
    'javascript:alert(1)',
  ]) {
    assert.equal(artworkPath(other), null, String(other));
  }
  assert.equal(listHasArtwork([{ id: 'a' }, { id: 'b', artwork: 'velto://app/artwork/0000000000000001-64' }]), true);
  assert.equal(listHasArtwork([{ id: 'a', artwork: 'https://example.com/x.png' }, null]), false);
  assert.equal(listHasArtwork(undefined), false);
});

// Images that load or fail when the test says.
function images() {
  const made = [];
  return {
    made,
    makeImage: () => {
      const image = { onload: null, onerror: null, src: '' };
      made.push(image);
      return image;
    },
  };
}

test('a row cover is asked for once: loaded ones show at once, missing ones only after a while', () => {
  const fake = images();
  let now = 0;
  const covers = new RowArtwork({ makeImage: fake.makeImage, limit: 3, now: () => now });
  const arrived = [];
  covers.load(['artwork/A-64', 'artwork/B-64', null, 'artwork/A-64'], (path) => arrived.push(path));
  assert.deepEqual(fake.made.map((image) => image.src), ['artwork/A-64', 'artwork/B-64']);
  covers.load(['artwork/A-64'], () => {});
  assert.equal(fake.made.length, 2, 'one still loading is not asked again');

  fake.made[0].onload();
  fake.made[1].onerror();
  assert.deepEqual(arrived, ['artwork/A-64']);
  assert.equal(covers.isLoaded('artwork/A-64'), true);
  assert.equal(covers.isLoaded('artwork/B-64'), false);
  covers.load(['artwork/A-64', 'artwork/B-64'], () => {});
  assert.equal(fake.made.length, 2, 'neither the loaded nor the missing one is asked again');

  // A cover missing because MPD was slow comes once asked again, a while later.
  now += MISSING_RETRY_MS - 1;
  covers.load(['artwork/B-64'], () => {});
  assert.equal(fake.made.length, 2);
  now += 1;
  covers.load(['artwork/B-64'], (path) => arrived.push(path));
  assert.equal(fake.made.length, 3);
  fake.made[2].onload();
  assert.deepEqual(arrived, ['artwork/A-64', 'artwork/B-64']);
  covers.load(['artwork/B-64'], () => {});
  assert.equal(fake.made.length, 3, 'and then shows like any loaded one');

  // It remembers only so many: the oldest loaded one is asked again when it comes back.
  for (const path of ['artwork/C-64', 'artwork/D-64', 'artwork/E-64']) {
    covers.load([path], () => {});
    fake.made.at(-1).onload();
  }
  assert.equal(covers.isLoaded('artwork/A-64'), false);
  assert.equal(covers.isLoaded('artwork/E-64'), true);
});
