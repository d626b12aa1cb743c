import { test } from 'node:test';
import assert from 'node:assert/strict';
import { batteryPercent, formatQueuePosition, formatRemaining, formatTime, formatTrackNumber, initialOf } from '../../../firmware/js/format.js';

test('formatTime', () => {
  const cases = [
    [0, '0:00'],
    [5.9, '0:05'],
    [65, '1:05'],
    [599.99, '9:59'],
    [3600, '1:00:00'],
    [3725, '1:02:05'],
    [-3, '0:00'],
    [NaN, '0:00'],
    [Infinity, '0:00'],
    [undefined, '0:00'],
  ];
  for (const [seconds, text] of cases) assert.equal(formatTime(seconds), text, String(seconds));
});

test('elapsed and remaining add up to the duration on screen', () => {
  // 61.7 s into a 200.4 s track shows 1:01 and -2:19: 61 + 139 = 200.
  assert.equal(formatRemaining(61.7, 200.4), '-2:19');
  assert.equal(formatRemaining(0, 0), '-0:00');
  assert.equal(formatRemaining(250, 200), '-0:00');
  assert.equal(formatRemaining(NaN, 90), '-1:30');
});

test('queue position', () => {
  const cases = [
    [3, 12, '3 of 12'],
    [1, 1, '1 of 1'],
    [null, null, ''],
    [0, 12, ''],
    [2.5, 12, ''],
    [3, 0, ''],
  ];
  for (const [position, count, text] of cases) assert.equal(formatQueuePosition(position, count), text);
});

test('battery percent is clamped', () => {
  const cases = [
    [0.456, 46],
    [1.3, 100],
    [-0.2, 0],
    [NaN, 0],
  ];
  for (const [level, percent] of cases) assert.equal(batteryPercent(level), percent);
});

// The same table as the native side's (InitialLetters), in the root locale.
test('the letter a title files under', () => {
  const cases = [
    ['Glasshouse', 'G'],
    ['zebra', 'Z'],
    ['émile', 'E'],
    ['e\u0301mile', 'E'],
    ['Ålborg', 'A'],
    ['ßtraße', 'S'],
    ['ǆemal', 'D'], // a digraph sorts as its letters
    ['øst', 'O'],
    ['Ærø', 'A'],
    ['Łódź', 'L'],
    ['þór', 'Þ'],
    ['йогурт', 'Й'], // a letter of its own to the collation, though it decomposes
    ['ωmega', 'Ω'],
    ['ёлка', 'Е'],
    ['한국', '\u1112'],
    ['ざる', 'さ'],
    ['東京', '東'],
    ['𝒜 astral letter', '𝒜'],
    ['99 Problems', '#'],
    ['٣', '#'],
    ['(What’s the Story)', '#'],
    ['  "Quoted"', '#'],
    ['¡Hola!', '#'],
    ['🎵 Notes', '#'],
    ['…', '#'],
    ['\ud800 lone half', '#'],
    ['', ''],
    [null, ''],
  ];
  for (const [title, letter] of cases) assert.equal(initialOf(title), letter, String(title));
});

test('a song’s place on its album', () => {
  const cases = [
    [7, 1, false, '7'],
    [7, 2, true, '2-07'],
    [12, 1, true, '1-12'],
    [7, undefined, true, '7'],
    [0, 1, false, ''],
    [2.5, 1, false, ''],
    ['3', 1, false, ''],
    [undefined, 1, true, ''],
  ];
  for (const [track, disc, withDisc, text] of cases) assert.equal(formatTrackNumber(track, disc, withDisc), text, `${track} ${disc} ${withDisc}`);
});
