import { test } from 'node:test';
import assert from 'node:assert/strict';
import { AHEAD_STEPS, CHUNK_ROWS, FIRST_ROWS, KEPT_CHUNKS, ListRows, MAX_WINDOW_ROWS } from '../../../firmware/js/listrows.js';
import { ListWindow } from '../../../firmware/js/listwindow.js';
import { disambiguator } from '../../../firmware/js/menu.js';
import { Accelerator, FAST_STEP_MS } from '../../../firmware/js/wheel.js';

const row = (index) => ({ id: `music-track:${index}`, title: `Song ${index}` });
// The native side's answer to a window request over a list of `count` rows.
const answer = (count, offset, limit, extra = {}) => ({
  id: 'music/songs',
  title: 'Songs',
  items: Array.from({ length: Math.max(0, Math.min(limit, count - offset)) }, (_, i) => row(offset + i)),
  count,
  offset,
  revision: 1,
  ...extra,
});

test('rows come in chunks and read like an array; only whole chunks count as at hand', () => {
  const rows = new ListRows();
  const first = rows.firstRequest();
  assert.deepEqual(first, { offset: 0, limit: FIRST_ROWS, chunks: [0, 1] });
  assert.equal(rows.accept(answer(120, 0, FIRST_ROWS), first.chunks), 'added');
  assert.equal(rows.length, 120);
  assert.equal(rows.at(0).title, 'Song 0');
  assert.equal(rows.at(99).title, 'Song 99');
  assert.equal(rows.at(100), undefined);
  assert.equal(rows.at(-1), undefined, 'no counting from the end');
  assert.equal(rows.complete, false);
  assert.equal(rows.pending.size, 0);
  // The last chunk is short; an answer off the chunks' grid fills only what it covers whole.
  rows.accept(answer(120, 95, 25));
  assert.equal(rows.at(119).title, 'Song 119');
  assert.equal(rows.complete, true);
  assert.deepEqual(rows.rowsFrom(118).map((r) => r.title), ['Song 118', 'Song 119']);
  const partial = new ListRows();
  partial.accept(answer(300, 60, 30));
  assert.equal(partial.at(60), undefined, 'a part of a chunk is not kept');
});

test('an answer from another read of the library replaces the rows at hand; an older one is dropped', () => {
  const rows = new ListRows();
  rows.accept(answer(1000, 0, 100));
  rows.accept(answer(1000, 500, 50));
  assert.equal(rows.at(500).title, 'Song 500');

  // Read again: fewer rows, titled anew.
  const newer = answer(800, 100, 50, { revision: 2 });
  newer.items = newer.items.map((r) => ({ ...r, title: `New ${r.title}` }));
  assert.equal(rows.accept(newer), 'reset');
  assert.equal(rows.length, 800);
  assert.equal(rows.at(0), undefined, 'rows of the old read are gone');
  assert.equal(rows.at(500), undefined);
  assert.equal(rows.at(100).title, 'New Song 100');

  // An answer of the old read that was still on its way changes nothing.
  const pending = rows.requestsFor([0]);
  assert.equal(rows.accept(answer(1000, 0, 50), pending[0].chunks), 'stale');
  assert.equal(rows.length, 800);
  assert.equal(rows.at(0), undefined);
  assert.equal(rows.pending.has(0), false, 'the stale answer lets its chunk be asked for again');
});

test('sections are kept as sent, as far as they make sense', () => {
  const rows = new ListRows();
  const sections = [
    { initial: '#', index: 0 },
    { initial: 'A', index: 40 },
    { initial: 'B', index: 40 }, // not after the one before
    { initial: 7, index: 50 },
    { initial: 'C', index: 5000 }, // past the end
    { initial: 'D', index: 60.5 },
    null,
    { initial: 'Z', index: 90 },
  ];
  rows.accept(answer(100, 0, 100, { sections }));
  assert.deepEqual(rows.sections, [
    { initial: '#', index: 0 },
    { initial: 'A', index: 40 },
    { initial: 'Z', index: 90 },
  ]);
  rows.accept(answer(100, 0, 0, { sections: 'no' }));
  assert.equal(rows.sections, null);
});

test('a whole list (an answer without "count") is a complete list', () => {
  const rows = new ListRows();
  rows.accept({ id: 'music', title: 'Music', items: [row(0), row(1), row(2)] });
  assert.equal(rows.length, 3);
  assert.equal(rows.complete, true);
  assert.deepEqual(rows.requestsFor(rows.wantedChunks({ top: 0, visible: 6 })), []);
});

test('at rest the screen wants its rows and a chunk around them; moving, the steps ahead too', () => {
  const rows = new ListRows();
  rows.accept(answer(300000, 0, 0));
  const cases = [
    // [where, wanted chunks]
    [{ top: 0, visible: 6 }, [0, 1]],
    [{ top: 48, visible: 6 }, [0, 1, 2]],
    [{ top: 1000, visible: 6 }, [20, 21, 19]],
    // Row by row downwards: the next chunk, not the one behind.
    [{ top: 1000, visible: 6, selected: 1005, direction: 1 }, [20, 21]],
    [{ top: 1000, visible: 6, selected: 1000, direction: -1 }, [20, 19]],
    // At full speed (3,000 rows a step at 300,000 rows), where each of the next steps lands.
    [{ top: 150000, visible: 6, selected: 150005, direction: 1, fastSteps: 200 }, [3000, 3059, 3060, 3119, 3120, 3179, 3180, 3239, 3240, 3299, 3300, 3359, 3360, 3419, 3420, 3479, 3480, 3001]],
    // The end of the list stops the landings.
    [{ top: 299994, visible: 6, selected: 299999, direction: 1, fastSteps: 200 }, [5999]],
  ];
  for (const [where, wanted] of cases) assert.deepEqual(rows.wantedChunks(where), wanted, JSON.stringify(where));
  assert.ok(cases[5][1].length <= 3 * AHEAD_STEPS);
  assert.deepEqual(new ListRows().wantedChunks({ top: 0, visible: 6 }), [], 'nothing for an empty list');
});

test('requests skip what is at hand or on its way and join neighbours up to the largest window', () => {
  const rows = new ListRows();
  rows.accept(answer(300000, 0, 100));
  const requests = rows.requestsFor([0, 1, 2, 3, 40, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14]);
  assert.deepEqual(
    requests.map(({ offset, limit }) => [offset, limit]),
    [
      [100, MAX_WINDOW_ROWS], // chunks 2 to 11
      [2000, CHUNK_ROWS],
      [600, 3 * CHUNK_ROWS], // 12 to 14
    ],
  );
  assert.deepEqual(rows.requestsFor([2, 40, 41]), [{ offset: 41 * CHUNK_ROWS, limit: CHUNK_ROWS, chunks: [41] }]);
  rows.failed([40]);
  assert.deepEqual(rows.requestsFor([40]).map((r) => r.offset), [2000], 'a failed chunk is asked for again');
});

test('the rows kept are bounded, and those nearest the selection stay', () => {
  const rows = new ListRows();
  rows.accept(answer(300000, 0, 0));
  for (let chunk = 0; chunk < KEPT_CHUNKS + 50; chunk++) rows.accept(answer(300000, chunk * CHUNK_ROWS, CHUNK_ROWS));
  rows.trim(0);
  assert.equal(rows.chunks.size, KEPT_CHUNKS);
  assert.ok(rows.at(0));
  assert.equal(rows.at((KEPT_CHUNKS + 49) * CHUNK_ROWS), undefined);
});

test('rows of equal titles tell themselves apart with what is at hand', () => {
  const rows = new ListRows();
  const same = (index, subtitle) => ({ id: `music-track:${index}`, title: 'Intro', subtitle });
  const items = answer(200, 0, CHUNK_ROWS).items;
  items.splice(0, 3, same(0, 'A'), same(1, 'B'), same(2, 'B'));
  items[CHUNK_ROWS - 1] = same(CHUNK_ROWS - 1, 'C');
  rows.accept({ items, count: 200, offset: 0, revision: 1 });
  assert.equal(disambiguator(rows, 0, false), 'A');
  assert.equal(disambiguator(rows, 1, false), '(2)');
  assert.equal(disambiguator(rows, 2, true), '(3)');
  // Its neighbour not at hand, a row reads as its own; a row not at hand tells nothing.
  assert.equal(disambiguator(rows, CHUNK_ROWS - 1, false), '');
  assert.equal(disambiguator(rows, CHUNK_ROWS + 1, false), '');
});

// The wheel turned once a frame at its fastest through 300,000 rows, the native side answering
// each window `latency` frames after it was asked: every row on screen must be at hand at every
// frame once the first window is in.
for (const latency of [1, 2, 3]) {
  test(`a spin at full speed finds its rows at hand, answers ${latency} frame(s) late`, () => {
    const count = 300000;
    const rows = new ListRows();
    const win = new ListWindow(count, 6);
    const accelerator = new Accelerator();
    const inFlight = [];
    const ask = (direction) => {
      const wanted = rows.wantedChunks({ top: win.top, visible: win.visibleRows, selected: win.selected, direction, fastSteps: accelerator.fastSteps });
      for (const request of rows.requestsFor(wanted)) inFlight.push({ request, due: frame + latency });
    };
    let frame = 0;
    const first = rows.firstRequest();
    rows.accept(answer(count, first.offset, first.limit), first.chunks);
    ask(0);
    let blank = 0;
    for (; frame < 600; frame++) {
      for (const entry of inFlight.filter((e) => e.due <= frame)) {
        inFlight.splice(inFlight.indexOf(entry), 1);
        rows.accept(answer(count, entry.request.offset, entry.request.limit), entry.request.chunks);
      }
      // Down to the end, then back up.
      const direction = frame < 300 ? 1 : -1;
      win.move(accelerator.step(direction, frame * (FAST_STEP_MS / 6), count));
      rows.trim(win.selected);
      ask(direction);
      const { start, end } = win.range;
      for (let index = start; index < end; index++) if (rows.at(index) === undefined) blank++;
    }
    assert.equal(blank, 0, 'rows missing on screen');
    assert.equal(win.selected, 0, 'the spin reached the end and came back');
  });
}
