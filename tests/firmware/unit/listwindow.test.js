import { test } from 'node:test';
import assert from 'node:assert/strict';
import { ListWindow, MIN_THUMB } from '../../../firmware/js/listwindow.js';

test('the selection stops at both ends and stays in view', () => {
  const w = new ListWindow(10, 4);
  assert.equal(w.move(-1), false);
  assert.deepEqual([w.selected, w.top], [0, 0]);
  w.move(5);
  assert.deepEqual([w.selected, w.top], [5, 2], 'scrolled just enough');
  w.move(-4);
  assert.deepEqual([w.selected, w.top], [1, 1]);
  w.move(1000);
  assert.deepEqual([w.selected, w.top, w.range.end], [9, 6, 10]);
  assert.equal(w.move(1), false);
});

test('short and empty lists', () => {
  const empty = new ListWindow(0, 6);
  assert.equal(empty.move(3), false);
  assert.deepEqual(empty.range, { start: 0, end: 0 });
  assert.equal(empty.thumb(192), null);
  const short = new ListWindow(3, 6);
  short.move(10);
  assert.deepEqual([short.selected, short.top], [2, 0]);
  assert.equal(short.thumb(192), null);
});

test('shrinking the list keeps the selection on a real row', () => {
  const w = new ListWindow(100, 6, 90);
  w.setCount(5);
  assert.deepEqual([w.selected, w.top], [4, 0]);
});

test('the scroll thumb spans the track and keeps a visible size in a 100,000-row list', () => {
  const w = new ListWindow(100000, 6);
  const first = w.thumb(192);
  assert.equal(first.top, 0);
  assert.equal(first.height, MIN_THUMB);
  w.select(99999);
  const last = w.thumb(192);
  assert.equal(last.top + last.height, 192);
  w.select(50000);
  const middle = w.thumb(192);
  assert.ok(Math.abs(middle.top - (192 - MIN_THUMB) / 2) < 0.01);
  // One row further moves the thumb by a fraction of a pixel, not a jump.
  w.move(6);
  assert.ok(w.thumb(192).top - middle.top < 0.02);
});
