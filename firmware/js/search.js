// Search: a query typed with the wheel on a strip of letters, or straight from the keyboard, and
// the library's matches under it, fresh after every keystroke. No DOM here (searchview.js draws
// it); App hands the search screen's inputs to a SearchController.

import { ListWindow } from './listwindow.js';
import { libraryNote } from './menu.js';

export const SEARCH_ROW_ID = 'search';
export const DELETE_KEY = 'delete';
export const SPACE_KEY = ' ';
// The strip the wheel walks along, then on past its end into the matches.
export const STRIP = [...'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789', SPACE_KEY, DELETE_KEY];
// The native side searches for the first 200 characters; typing stops there.
export const QUERY_LIMIT = 200;
// The query line and the strip take a row each above the matches.
export const ROWS_ABOVE_MATCHES = 2;

/** Music's answer with the Search row after the library's own rows. */
export function withSearchRow(answer) {
  const items = Array.isArray(answer?.items) ? answer.items : [];
  const windowed = Number.isInteger(answer?.count);
  // Only a list that came whole ends here; Music's few rows always do.
  if (windowed && (answer.count !== items.length || (answer.offset ?? 0) !== 0)) return answer;
  const row = { id: SEARCH_ROW_ID, title: 'Search', kind: 'container', hasChildren: true, playable: false };
  return { ...answer, items: [...items, row], ...(windowed ? { count: items.length + 1 } : {}) };
}

const KINDS = [
  ['music/artists/', 'Artist'],
  ['music/albums/', 'Album'],
  ['music-track:', 'Song'],
  ['music/playlist/', 'Playlist'],
  ['music/genres/', 'Genre'],
];

/** What a match is, for the tag beside it: "Artist", "Album", "Song", "Playlist", "Genre" or ''. */
export function matchKind(row) {
  const id = typeof row?.id === 'string' ? row.id : '';
  return KINDS.find(([prefix]) => id.startsWith(prefix))?.[1] ?? '';
}

const segmenter = typeof Intl.Segmenter === 'function' ? new Intl.Segmenter() : null;

function characters(text) {
  return segmenter ? [...segmenter.segment(text)].map((s) => s.segment) : [...text];
}

/**
 * One search screen's state: the query, where the wheel is (a key of the strip, or a match), and
 * the matches of the newest answer. Every change of the query is numbered; an answer is shown only
 * if it answers a later query than the one on screen, so a slow answer to an older query never
 * replaces a newer one.
 */
export class SearchSession {
  constructor(rows) {
    this.query = '';
    this.key = 0; // the strip's key under the cursor
    this.focus = 'strip'; // or 'matches'
    this.items = [];
    this.list = null; // the answer on screen
    this.note = null;
    this.answeredQuery = null; // the query the matches on screen answer
    this.sent = 0;
    this.shown = 0;
    this.window = new ListWindow(0, Math.max(1, rows - ROWS_ABOVE_MATCHES));
  }

  setVisibleRows(rows) {
    this.window.setVisibleRows(Math.max(1, rows - ROWS_ABOVE_MATCHES));
  }

  get length() {
    return characters(this.query).length;
  }

  /** Adds typed text; false when the query is full. */
  append(text) {
    if (typeof text !== 'string' || text === '' || this.length + characters(text).length > QUERY_LIMIT) return false;
    this.query += text;
    return true;
  }

  /** Takes the last character away; false when there is none. */
  erase() {
    if (this.query === '') return false;
    const all = characters(this.query);
    this.query = all.slice(0, -1).join('');
    return true;
  }

  /** The number of the query as it is now, to send with it. */
  next() {
    this.sent += 1;
    return this.sent;
  }

  /** An answer to query number `serial`: taken (true) only when it is newer than the one shown. */
  accept(serial, list) {
    if (serial <= this.shown) return false;
    this.shown = serial;
    this.list = list && typeof list === 'object' ? list : null;
    this.items = Array.isArray(list?.items) ? list.items : [];
    this.answeredQuery = typeof list?.title === 'string' ? list.title : null;
    this.note = libraryNote(this.items);
    this.window = new ListWindow(this.items.length, this.window.visibleRows);
    return true;
  }

  get selectedKey() {
    return STRIP[this.key];
  }

  get selectedRow() {
    return this.focus === 'matches' ? (this.items[this.window.selected] ?? null) : null;
  }

  /** One step of the wheel: along the strip, past its end into the matches, and back. */
  turn(direction) {
    if (this.focus === 'strip') {
      if (direction > 0 && this.key === STRIP.length - 1) {
        if (this.items.length === 0) return false;
        this.focus = 'matches';
        this.window.select(0);
        return true;
      }
      const key = Math.min(STRIP.length - 1, Math.max(0, this.key + direction));
      if (key === this.key) return false;
      this.key = key;
      return true;
    }
    if (direction < 0 && this.window.selected === 0) {
      this.focus = 'strip';
      return true;
    }
    return this.window.move(direction);
  }

  /** A jump among the matches (a page, Home, End), when they have the wheel. */
  jump(index) {
    if (this.focus !== 'matches') return false;
    return this.window.select(index);
  }

  /** Typing on a keyboard: the matches take the selection, the first one chosen. */
  focusMatches() {
    this.focus = 'matches';
    this.window.select(0);
  }

  /** Back to the strip, where the wheel was. */
  focusStrip() {
    this.focus = 'strip';
  }
}

/**
 * The search screen's inputs. `host` is App's side: request(method, params) (a promise; failures
 * are not shown), fail(error) (shows one), tick() and press() (sound and haptic), changed(screen)
 * (redraw), open(row) (its list), play(row) (that song alone).
 */
export class SearchController {
  constructor(host) {
    this.host = host;
  }

  screen(rows) {
    return { kind: 'search', title: 'Search', loading: false, caption: null, note: null, search: new SearchSession(rows) };
  }

  /** Acts on an input of the search screen; false for those it leaves to App (play, skip, hold…). */
  input(screen, action, argument) {
    const session = screen.search;
    switch (action) {
      case 'rotate':
      case 'scroll': {
        const steps = Math.trunc(argument);
        for (let i = 0; i < Math.abs(steps); i++) {
          this.host.tick();
          session.turn(Math.sign(steps));
        }
        break;
      }
      case 'page':
        if (session.jump(session.window.selected + Math.sign(argument) * session.window.visibleRows)) this.host.tick();
        break;
      case 'end':
        if (session.jump(argument < 0 ? 0 : session.items.length - 1)) this.host.tick();
        break;
      case 'type':
        if (session.append(argument)) {
          session.focusMatches();
          this.#search(screen);
        }
        break;
      case 'select':
        this.host.press();
        this.#select(screen);
        return true;
      case 'menu':
        // Back a letter, then out.
        if (session.query === '') return false;
        this.host.press();
        session.erase();
        session.focusStrip();
        this.#search(screen);
        break;
      default:
        return false;
    }
    this.host.changed(screen);
    return true;
  }

  #select(screen) {
    const session = screen.search;
    if (session.focus === 'strip') {
      const key = session.selectedKey;
      const changed = key === DELETE_KEY ? session.erase() : session.append(key === SPACE_KEY ? ' ' : key.toLowerCase());
      if (changed) this.#search(screen);
      this.host.changed(screen);
      return;
    }
    const row = session.selectedRow;
    if (!row || typeof row.id !== 'string') return;
    if (row.id === 'music-unavailable') {
      this.host.request('refreshLibrary', { path: 'music' }).then(
        () => this.#search(screen),
        (error) => this.host.fail(error),
      );
    } else if (row.hasChildren) {
      this.host.open(row);
    } else if (row.playable && row.id.startsWith('music-track:')) {
      this.host.play(row);
    }
  }

  // One search for every change of the query; only a newer answer than the one shown is drawn.
  #search(screen) {
    const session = screen.search;
    const serial = session.next();
    this.host.request('search', { query: session.query }).then(
      (list) => {
        if (session.accept(serial, list)) this.host.changed(screen);
      },
      (error) => {
        if (serial === session.sent) this.host.fail(error);
      },
    );
  }
}
