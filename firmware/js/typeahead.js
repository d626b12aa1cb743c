// Typing to jump in a list: letters typed in quick succession name the first row that starts with
// them. A jump needs only the list's sections (each run of rows that share an initial, and the row
// it begins at) and, to refine past the first letter, the titles of one section; a list that
// arrives in windows of rows together with its sections jumps the same way.

import { initialOf } from './format.js';

// Letters typed closer together than this refine one search; after a longer pause a letter starts
// a new one.
export const TYPE_AHEAD_MS = 1000;

/** A text as typing matches it: its letters and digits only, without accents, upper-cased. */
export function searchKey(text) {
  if (typeof text !== 'string') return '';
  return text.normalize('NFD').replace(/[^\p{L}\p{N}]+/gu, '').toLocaleUpperCase().normalize('NFC');
}

/**
 * The sections of a list of `count` rows: every run of consecutive rows whose titles file under
 * the same initial (the letter shown large while a list spins), as { initial, index } of the run's
 * first row. A sorted list has one run per initial.
 */
export function sectionsOf(count, titleAt) {
  const sections = [];
  let last = null;
  for (let index = 0; index < count; index++) {
    const initial = initialOf(titleAt(index));
    if (initial === last) continue;
    sections.push({ initial, index });
    last = initial;
  }
  return sections;
}

/** The initial of the section that holds row `index`; '' when no section does. */
export function sectionAt(sections, index) {
  let low = 0;
  let high = (sections?.length ?? 0) - 1;
  let found = '';
  while (low <= high) {
    const middle = (low + high) >> 1;
    if (sections[middle].index <= index) {
      found = sections[middle].initial;
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return found;
}

/**
 * The row `query` jumps to: the first row, in the sections of the query's initial, whose title
 * starts with the query; failing that, a row of the "#" sections that does once its punctuation is
 * left out ("dont" finds "(Don't Fear)"); -1 when there is none. `titleAt(index)` may answer
 * undefined for a row not at hand (a list that comes in windows): the jump then goes to that row's
 * section start.
 */
export function jumpIndex(query, { sections, count, titleAt = () => undefined }) {
  const initial = initialOf(query);
  const key = searchKey(query);
  if (!initial || !key) return -1;
  const search = (wanted, orSectionStart) => {
    for (let s = 0; s < sections.length; s++) {
      if (sections[s].initial !== wanted) continue;
      const start = sections[s].index;
      const end = s + 1 < sections.length ? sections[s + 1].index : count;
      for (let index = start; index < end; index++) {
        const title = titleAt(index);
        if (title === undefined) {
          if (orSectionStart) return start;
          break;
        }
        if (searchKey(title).startsWith(key)) return index;
      }
    }
    return -1;
  };
  const found = search(initial, true);
  return found >= 0 || initial === '#' ? found : search('#', false);
}

/** The rows [start, end) of the first section filed under `initial`; null when there is none. */
export function sectionRange(sections, count, initial) {
  const s = (sections ?? []).findIndex((section) => section.initial === initial);
  if (s < 0) return null;
  return { start: sections[s].index, end: s + 1 < sections.length ? sections[s + 1].index : count };
}

/**
 * The first row of a sorted section whose title starts with `query`, found by halving the section:
 * { index } once decided (-1 for none), or { need } the row whose title decides the next half when
 * it is not at hand. Called again as rows arrive, it goes on where it stopped.
 */
export function narrowIndex(query, { start, end }, titleAt) {
  const key = searchKey(query);
  // Mostly the section's first row already starts so (a first letter).
  if (start >= end) return { index: -1 };
  const first = titleAt(start);
  if (first === undefined) return { need: start };
  if (searchKey(first).startsWith(key)) return { index: start };
  let low = start + 1;
  let high = end;
  while (low < high) {
    const middle = (low + high) >> 1;
    const title = titleAt(middle);
    if (title === undefined) return { need: middle };
    if (searchKey(title) < key) low = middle + 1;
    else high = middle;
  }
  if (low >= end) return { index: -1 };
  const title = titleAt(low);
  if (title === undefined) return { need: low };
  return { index: searchKey(title).startsWith(key) ? low : -1 };
}

/** The letters typed so far: a pause longer than TYPE_AHEAD_MS starts over. */
export class TypeAhead {
  constructor() {
    this.reset();
  }

  reset() {
    this.query = '';
    this.lastTime = -Infinity;
  }

  /** Adds one typed character at `now` ms; returns the search so far. */
  type(character, now) {
    if (now - this.lastTime > TYPE_AHEAD_MS) this.query = '';
    this.lastTime = now;
    this.query += character;
    return this.query;
  }
}
