// A library list that arrives in windows ("getList" with "offset" and "limit"): the rows at hand,
// the windows on their way, and which to ask for next, so that the rows on screen are in before the
// selection gets there, even while the wheel spins at its fastest. Rows are fetched and kept in
// aligned chunks; a list of any length costs a screenful to open.

import { listHasArtwork } from './artwork.js';
import { accelerationFactor } from './wheel.js';

export const CHUNK_ROWS = 50;
// Asked for when a list opens: a screenful and the rows just past it.
export const FIRST_ROWS = 2 * CHUNK_ROWS;
// The most rows one answer holds.
export const MAX_WINDOW_ROWS = 500;
// Wheel steps ahead whose rows are fetched before the selection takes them: more than the steps an
// answer takes to come back while the wheel turns once a frame.
export const AHEAD_STEPS = 8;
// Chunks kept at most (20,000 rows); past that, those farthest from the selection go.
export const KEPT_CHUNKS = 400;

/** A window answer's sections, as far as they make sense: [{ initial, index }] by index, or null. */
function readSections(raw, count) {
  if (!Array.isArray(raw)) return null;
  const sections = [];
  for (const section of raw) {
    const { initial, index } = section ?? {};
    if (typeof initial !== 'string' || !Number.isInteger(index) || index < 0 || index >= count) continue;
    if (sections.length && index <= sections[sections.length - 1].index) continue;
    sections.push({ initial, index });
  }
  return sections;
}

export class ListRows {
  constructor() {
    this.count = 0;
    this.sections = null; // from the native side; null for a list not sorted by its titles
    this.revision = null;
    this.chunks = new Map(); // chunk number -> its rows
    this.pending = new Set(); // chunk numbers asked for and not yet answered
    this.hasArtwork = false; // whether any row at hand of this read carries a cover
  }

  /** The list's length: ListRows reads like the array of a whole list (`length`, `at`). */
  get length() {
    return this.count;
  }

  at(index) {
    if (!Number.isInteger(index) || index < 0 || index >= this.count) return undefined;
    return this.chunks.get(Math.floor(index / CHUNK_ROWS))?.[index % CHUNK_ROWS];
  }

  get chunkCount() {
    return Math.ceil(this.count / CHUNK_ROWS);
  }

  /** Whether every row is at hand. */
  get complete() {
    return this.chunks.size === this.chunkCount;
  }

  /** The rows at hand from `start` on, up to the first missing one (all of them when complete). */
  rowsFrom(start = 0, end = this.count) {
    const rows = [];
    for (let index = start; index < end; index++) {
      const row = this.at(index);
      if (row === undefined) break;
      rows.push(row);
    }
    return rows;
  }

  /**
   * Takes the answer to a request for the chunks `asked`. Returns "stale" for an answer from an
   * older read of the library than the rows at hand (it is dropped), "reset" when it comes from a
   * newer one (the rows at hand are dropped for it), else "added". An answer without "count" is a
   * whole list.
   */
  accept(answer, asked = []) {
    for (const chunk of asked) this.pending.delete(chunk);
    const items = Array.isArray(answer?.items) ? answer.items : [];
    const revision = Number.isFinite(answer?.revision) ? answer.revision : null;
    if (this.revision !== null && revision !== null && revision < this.revision) return 'stale';
    let outcome = 'added';
    if (revision !== this.revision && (this.revision !== null || this.chunks.size > 0)) {
      this.chunks.clear();
      this.pending.clear();
      this.hasArtwork = false;
      outcome = 'reset';
    }
    this.revision = revision;
    const windowed = Number.isInteger(answer?.count) && answer.count >= 0;
    this.count = windowed ? answer.count : items.length;
    const offset = windowed && Number.isInteger(answer.offset) && answer.offset >= 0 ? answer.offset : 0;
    this.sections = readSections(answer?.sections, this.count);
    // An album list's rows have covers wherever they are: the first rows that carry one say so.
    if (!this.hasArtwork) this.hasArtwork = listHasArtwork(items);
    for (let i = 0; i < items.length && offset + i < this.count; i++) {
      const index = offset + i;
      const number = Math.floor(index / CHUNK_ROWS);
      let chunk = this.chunks.get(number);
      if (!chunk) this.chunks.set(number, (chunk = []));
      chunk[index % CHUNK_ROWS] = items[i];
    }
    // A chunk counts as at hand only when whole: drop what an unaligned answer left partial.
    for (const [number, chunk] of this.chunks) {
      const size = Math.min(CHUNK_ROWS, this.count - number * CHUNK_ROWS);
      if (size <= 0 || chunk.length < size || chunk.includes(undefined)) this.chunks.delete(number);
    }
    return outcome;
  }

  /** The request of a list that has just opened: its first rows. */
  firstRequest() {
    const chunks = [0, 1];
    for (const chunk of chunks) this.pending.add(chunk);
    return { offset: 0, limit: FIRST_ROWS, chunks };
  }

  /**
   * The chunks the screen needs now and soon, most urgent first: those on screen, those where the
   * next AHEAD_STEPS wheel steps will land (`direction` ±1 after `fastSteps` fast steps, 0 at rest),
   * and a chunk's worth of rows ahead for a reader who moves row by row.
   */
  wantedChunks({ top, visible, direction = 0, fastSteps = 0, selected = top }) {
    const last = this.chunkCount - 1;
    const wanted = [];
    const add = (from, to) => {
      const first = Math.max(0, Math.floor(Math.max(0, from) / CHUNK_ROWS));
      const end = Math.min(last, Math.floor(Math.max(0, to) / CHUNK_ROWS));
      for (let chunk = first; chunk <= end; chunk++) if (!wanted.includes(chunk)) wanted.push(chunk);
    };
    if (last < 0) return wanted;
    add(top, top + visible - 1);
    if (direction !== 0) {
      let landing = selected;
      for (let step = 1; step <= AHEAD_STEPS; step++) {
        landing += direction * accelerationFactor(fastSteps + step, this.count);
        landing = Math.min(this.count - 1, Math.max(0, landing));
        add(landing - visible, landing + visible);
      }
    }
    if (direction >= 0) add(top + visible, top + visible + CHUNK_ROWS - 1);
    if (direction <= 0) add(top - CHUNK_ROWS, top - 1);
    return wanted;
  }

  /**
   * The requests that fetch the wanted chunks not at hand nor asked for, in their order, runs of
   * neighbouring chunks joined up to MAX_WINDOW_ROWS; marks them asked for.
   */
  requestsFor(wanted) {
    const requests = [];
    const perWindow = Math.floor(MAX_WINDOW_ROWS / CHUNK_ROWS);
    for (const chunk of wanted) {
      if (this.chunks.has(chunk) || this.pending.has(chunk)) continue;
      this.pending.add(chunk);
      const previous = requests.find((r) => r.chunks[r.chunks.length - 1] === chunk - 1 && r.chunks.length < perWindow);
      if (previous) {
        previous.chunks.push(chunk);
        previous.limit += CHUNK_ROWS;
      } else {
        requests.push({ offset: chunk * CHUNK_ROWS, limit: CHUNK_ROWS, chunks: [chunk] });
      }
    }
    return requests;
  }

  /** Lets a failed request be made again. */
  failed(asked) {
    for (const chunk of asked) this.pending.delete(chunk);
  }

  /** Keeps at most KEPT_CHUNKS chunks, dropping those farthest from `index` first. */
  trim(index) {
    if (this.chunks.size <= KEPT_CHUNKS) return;
    const near = Math.floor(index / CHUNK_ROWS);
    const byDistance = [...this.chunks.keys()].sort((a, b) => Math.abs(b - near) - Math.abs(a - near));
    for (const chunk of byDistance.slice(0, this.chunks.size - KEPT_CHUNKS)) this.chunks.delete(chunk);
  }
}
