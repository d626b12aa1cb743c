// Draws the search screen: the query, the strip of letters with the wheel's key, and the matches
// under them. Like the lists it keeps a fixed pool of row elements and draws only what changed;
// nothing on it moves by itself (the caret does not blink), so at rest it costs nothing.

import { DELETE_KEY, SPACE_KEY, STRIP, matchKind } from './search.js';
import { secondLine } from './menu.js';
import { element, setText } from './view.js';

const POOL_ROWS = 6; // more than any size shows under the strip
const SPACE_ICON = '<svg viewBox="0 0 16 10" aria-hidden="true"><path d="M1.5 3.5 V8 H14.5 V3.5" fill="none" stroke="currentColor" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/></svg>';
const DELETE_ICON = '<svg viewBox="0 0 18 12" aria-hidden="true"><path d="M6 1 H16 A1 1 0 0 1 17 2 V10 A1 1 0 0 1 16 11 H6 L1 6 Z" fill="none" stroke="currentColor" stroke-width="1.6" stroke-linejoin="round"/><path d="M8.5 3.8 L12.9 8.2 M12.9 3.8 L8.5 8.2" stroke="currentColor" stroke-width="1.6" stroke-linecap="round"/></svg>';
const HINT = 'Turn to a letter and press the centre button, or type.';

function build(page) {
  const field = element('div', 'search-field', page);
  element('span', 'search-glass', field);
  const query = element('span', 'search-query', field);
  element('span', 'search-caret', field);
  const strip = element('div', 'search-strip', page);
  const keys = element('div', 'search-keys', strip);
  for (const key of STRIP) {
    const el = element('span', 'search-key', keys);
    el.dataset.key = key;
    if (key === SPACE_KEY) el.innerHTML = SPACE_ICON;
    else if (key === DELETE_KEY) el.innerHTML = DELETE_ICON;
    else el.textContent = key;
  }
  const matches = element('div', 'search-matches', page);
  const pool = [];
  for (let i = 0; i < POOL_ROWS; i++) {
    const row = element('div', 'row', matches);
    const text = element('div', 'row-text', row);
    const title = element('div', 'row-title', text);
    const subtitle = element('div', 'row-subtitle', text);
    const value = element('div', 'row-value', row);
    value.dataset.kind = 'match';
    element('div', 'row-chevron', row);
    pool.push({ row, title, subtitle, value });
  }
  const status = element('div', 'search-status', matches);
  const note = element('div', 'list-note', matches);
  return { field, query, strip, keys, matches, pool, status, note, shift: '', keyWidth: 0, stripWidth: 0, sizeName: null };
}

// Keeps the cursor's key in view, a few keys from either edge where it can.
function placeStrip(parts, session, size) {
  if (parts.sizeName !== size.name || parts.keyWidth === 0) {
    parts.sizeName = size.name;
    parts.keyWidth = parts.keys.firstElementChild.offsetWidth;
    parts.stripWidth = parts.strip.clientWidth;
  }
  if (parts.keyWidth === 0) return;
  const shown = Math.max(1, Math.floor(parts.stripWidth / parts.keyWidth));
  const first = Math.min(Math.max(0, STRIP.length - shown), Math.max(0, session.key - Math.floor(shown / 2)));
  // In pixels of this size: the same first key is another shift at another size.
  const shift = `translateX(${-first * parts.keyWidth}px)`;
  if (shift === parts.shift) return;
  parts.shift = shift;
  parts.keys.style.transform = shift;
}

/** Draws `screen` (kind "search") on `page` at the device size `size`. */
export function renderSearch(page, screen, size) {
  const session = screen.search;
  const parts = (page.searchParts ??= build(page));
  setText(parts.query, session.query);
  parts.field.classList.toggle('blank', session.query === '');

  const onStrip = session.focus === 'strip';
  parts.strip.classList.toggle('resting', !onStrip);
  const current = parts.keys.querySelector('.search-key.current');
  const key = parts.keys.children[session.key];
  if (current !== key) {
    current?.classList.remove('current');
    key.classList.add('current');
  }
  placeStrip(parts, session, size);

  const { items, window: win } = session;
  const { start, end } = win.range;
  const blank = session.query.trim() === '';
  let status = '';
  if (blank) status = HINT;
  else if (!session.list) status = 'Searching…';
  else if (items.length === 0) status = 'No Matches';
  parts.status.hidden = status === '' || (blank && items.length > 0);
  setText(parts.status, status);
  parts.status.classList.toggle('loading', !blank && !session.list);
  parts.note.hidden = !session.note;
  if (session.note) setText(parts.note, session.note);

  const subtitles = size.subtitles && !session.note;
  for (let i = 0; i < parts.pool.length; i++) {
    const slot = parts.pool[i];
    const index = start + i;
    if (index >= end) {
      slot.row.hidden = true;
      continue;
    }
    const item = items[index] ?? {};
    slot.row.hidden = false;
    slot.row.style.top = `calc(var(--row-h) * ${i})`;
    setText(slot.title, typeof item.title === 'string' ? item.title : '');
    const subtitle = subtitles ? secondLine(item) : '';
    setText(slot.subtitle, subtitle);
    slot.subtitle.hidden = subtitle === '';
    const kind = matchKind(item);
    setText(slot.value, kind);
    slot.value.hidden = kind === '';
    const cls =
      'row' +
      (!onStrip && index === win.selected ? ' selected' : '') +
      (item.hasChildren ? ' has-children' : '') +
      (item.kind === 'action' ? ' action' : '');
    if (slot.row.className !== cls) slot.row.className = cls;
    slot.row.dataset.index = String(index);
  }
}
