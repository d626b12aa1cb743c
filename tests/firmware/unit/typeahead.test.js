import { test } from 'node:test';
import assert from 'node:assert/strict';
import { TYPE_AHEAD_MS, TypeAhead, jumpIndex, narrowIndex, searchKey, sectionAt, sectionRange, sectionsOf } from '../../../firmware/js/typeahead.js';

// A sorted list as the library sorts one: punctuation and digits first, accents beside their letters.
const SORTED = ['(Don’t Fear) The Reaper', '99 Luftballons', 'Dreams', 'Émile', 'Harbour Lights', 'Harbour Lights', 'Harvest Moon', 'Hey Jude', 'Zombie'];
// A list in its own order (a playlist): the same initial in runs apart from each other.
const PLAYLIST = ['Hey Jude', 'Angie', 'Help!', 'Halo'];

const over = (titles) => ({ sections: sectionsOf(titles.length, (i) => titles[i]), count: titles.length, titleAt: (i) => titles[i] });

test('a search key keeps letters and digits, drops accents, case and everything else', () => {
  const cases = [
    ['Harbour Lights', 'HARBOURLIGHTS'],
    ['(Don’t Fear) The Reaper', 'DONTFEARTHEREAPER'],
    ['Émile', 'EMILE'],
    ['ßtraße', 'SSTRASSE'],
    ['99 Luftballons', '99LUFTBALLONS'],
    ['東京', '東京'],
    ['…', ''],
    [null, ''],
  ];
  for (const [text, key] of cases) assert.equal(searchKey(text), key, String(text));
});

test('sections are runs of one initial, each with the row it starts at', () => {
  assert.deepEqual(sectionsOf(SORTED.length, (i) => SORTED[i]), [
    { initial: '#', index: 0 },
    { initial: 'D', index: 2 },
    { initial: 'E', index: 3 },
    { initial: 'H', index: 4 },
    { initial: 'Z', index: 8 },
  ]);
  assert.deepEqual(sectionsOf(PLAYLIST.length, (i) => PLAYLIST[i]).map((s) => s.index), [0, 1, 2]);
  assert.deepEqual(sectionsOf(0, () => 'x'), []);
});

test('typed letters jump to the first row that starts with them', () => {
  const cases = [
    // [list, query, index]
    [SORTED, 'h', 4],
    [SORTED, 'H', 4],
    [SORTED, 'harv', 6],
    [SORTED, 'hey', 7],
    [SORTED, 'harbourl', 4], // spaces are not typed
    [SORTED, 'd', 2], // the D section, not the title that starts with a parenthesis
    [SORTED, 'dont', 0], // but punctuation and apostrophes count for nothing
    [SORTED, 'e', 3], // "É" files under E
    [SORTED, '9', 1],
    [SORTED, '1', -1], // no row starts with 1, though there is a "#" section
    [SORTED, 'q', -1],
    [SORTED, 'hx', -1],
    [SORTED, '', -1],
    [SORTED, '!', -1],
    [PLAYLIST, 'ha', 3], // found in the second run of H
    [PLAYLIST, 'he', 0],
  ];
  for (const [list, query, index] of cases) assert.equal(jumpIndex(query, over(list)), index, `${query} in ${list[0]}…`);
});

test('with only the sections at hand a jump lands on its section start', () => {
  const sections = [
    { initial: 'A', index: 0 },
    { initial: 'B', index: 5000 },
    { initial: 'C', index: 9000 },
  ];
  assert.equal(jumpIndex('b', { sections, count: 10000 }), 5000);
  assert.equal(jumpIndex('bee', { sections, count: 10000 }), 5000);
  // Rows of the section that are at hand refine it; the first missing one stops there.
  const rows = { 5000: 'Baa', 5001: 'Bar' };
  assert.equal(jumpIndex('bar', { sections, count: 10000, titleAt: (i) => rows[i] }), 5001);
  assert.equal(jumpIndex('bee', { sections, count: 10000, titleAt: (i) => rows[i] }), 5000);
  assert.equal(jumpIndex('d', { sections, count: 10000 }), -1);
});

test('the section of a row is the last one that starts at or before it', () => {
  const sections = [
    { initial: '#', index: 0 },
    { initial: 'A', index: 3 },
    { initial: 'B', index: 5000 },
  ];
  const cases = [
    [0, '#'],
    [2, '#'],
    [3, 'A'],
    [4999, 'A'],
    [5000, 'B'],
    [299999, 'B'],
  ];
  for (const [index, initial] of cases) assert.equal(sectionAt(sections, index), initial, String(index));
  assert.equal(sectionAt([{ initial: 'A', index: 1 }], 0), '', 'the "All" row before the first section');
  assert.equal(sectionAt([], 5), '');
  assert.equal(sectionAt(null, 5), '');
});

test('a section too long to be at hand is halved, one row fetched at a time, to the first row typed', () => {
  // 100,000 sorted titles "Song 000001" …, of which the test fetches only the rows asked for.
  const title = (index) => `Song ${String(index + 1).padStart(6, '0')}`;
  const range = sectionRange([{ initial: '#', index: 0 }, { initial: 'S', index: 10 }, { initial: 'T', index: 100010 }], 100020, 'S');
  assert.deepEqual(range, { start: 10, end: 100010 });
  const find = (query) => {
    const atHand = new Map();
    for (let asked = 0; asked < 40; asked++) {
      const found = narrowIndex(query, range, (index) => atHand.get(index));
      if (found.need === undefined) return { index: found.index, asked };
      atHand.set(found.need, title(found.need - range.start));
    }
    throw new Error('no end');
  };
  const cases = [
    // [query, index, rows fetched at most]
    ['s', 10, 1],
    ['song 05', 10 + 49999, 20],
    ['song100000', 10 + 99999, 20],
    ['song2', -1, 20],
    ['sx', -1, 20],
  ];
  for (const [query, index, asked] of cases) {
    const found = find(query);
    assert.equal(found.index, index, query);
    assert.ok(found.asked <= asked, `${query}: ${found.asked} rows fetched`);
  }
  assert.equal(sectionRange([{ initial: 'S', index: 0 }], 5, 'Q'), null);
});

test('letters typed quickly refine one search; a pause starts a new one', () => {
  const typing = new TypeAhead();
  assert.equal(typing.type('h', 0), 'h');
  assert.equal(typing.type('a', 300), 'ha');
  assert.equal(typing.type('r', 300 + TYPE_AHEAD_MS), 'har');
  assert.equal(typing.type('z', 301 + 2 * TYPE_AHEAD_MS), 'z');
  typing.reset();
  assert.equal(typing.type('q', 302 + 2 * TYPE_AHEAD_MS), 'q');
});
