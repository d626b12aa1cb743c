// The DOM side: draws what App decides. Lists draw only their visible rows from a fixed pool of
// row elements, so a list of any length costs the same per frame. Nothing runs unless something
// moves: the Now Playing clock ticks on a timer only while a song plays on an awake screen, and
// text scrolls only while it is shown and does not fit.

import {
  BODY_HEIGHT_FRACTION,
  BODY_WIDTH_FRACTION,
  CENTER_BUTTON_FRACTION,
  DESIGN_HEIGHT,
  DESIGN_WIDTH,
  WHEEL_CENTER_X,
  WHEEL_CENTER_Y,
  WHEEL_RADIUS_X,
  WHEEL_RADIUS_Y,
} from './geometry.js';
import { batteryPercent, formatQueuePosition, formatRemaining, formatTime, formatTrackNumber } from './format.js';
import { disambiguator, secondLine } from './menu.js';
import { TICKER_PAUSE_MS, Ticker } from './ticker.js';
import { COVER_LATE_MS, ROW_ART_REST_MS, RowArtwork, artworkPath, listHasArtwork } from './artwork.js';
import { renderSearch } from './searchview.js';

const SCREEN_HEIGHT = 216; // design px inside the bezel
// The four device sizes, by window width (midway between them), and what a screen holds at each:
// text never drawn under 11 px (10 px small, 9 px tiny) means fewer, larger rows and no subtitles
// at the small sizes.
const SIZES = [
  { name: 'large', minWidth: 411, rows: 6, subtitles: true, statusHeight: 24 },
  { name: 'medium', minWidth: 294, rows: 5, subtitles: true, statusHeight: 26 },
  { name: 'small', minWidth: 200, rows: 6, subtitles: false, statusHeight: 30 },
  { name: 'tiny', minWidth: 0, rows: 4, subtitles: false, statusHeight: 38 },
];
const MESSAGE_MS = 3500;
const LOCK_FLASH_MS = 1100;
const VOLUME_SHOWN_MS = 1600;
const BUSY_SHOWN_AFTER_MS = 300;
const PAGE_SLIDE_MS = 200;
const LETTER_SHOWN_MS = 650;
const MARQUEE_SPEED = 30; // design px a second
const CLOCK_SCAN_MS = 250; // how often the Now Playing clock redraws while a scan moves it
const PROGRESS_WIDTH = 306; // design px of the Now Playing bar
const SLIDES = ['enter-forward', 'enter-back', 'leave-forward', 'leave-back'];

const PLAY_ICON = '<svg viewBox="0 0 10 10"><path d="M1 0 L9 5 L1 10 Z"/></svg>';
const PAUSE_ICON = '<svg viewBox="0 0 10 10"><rect x="1" y="0" width="3" height="10" rx="0.5"/><rect x="6" y="0" width="3" height="10" rx="0.5"/></svg>';

const pct = (fraction) => `${fraction * 100}%`;

export function element(tag, className, parent) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (parent) parent.appendChild(el);
  return el;
}

// Sets text, attributes and styles only when they change: a write of the same value still costs
// a style pass and a paint, and most redraws change nothing but one line.
export function setText(el, text) {
  if (el.textContent !== text) el.textContent = text;
}

function setData(el, key, value) {
  if (el.dataset[key] !== value) el.dataset[key] = value;
}

function setStyle(el, property, value) {
  if (el.style[property] !== value) el.style[property] = value;
}

/**
 * One line of text that, when it does not fit its box, can scroll once to its end and back; at
 * rest it ends in an ellipsis. A Ticker decides when. It measures only when asked to scroll, never
 * while the wheel spins.
 */
class Marquee {
  constructor(box) {
    this.box = box;
    this.text = element('span', 'marquee-text', box);
    this.animation = null;
  }

  /** Sets the text; returns whether it changed (the caller decides whether to scroll it). */
  setText(text) {
    if (this.text.textContent === text) return false;
    this.stop();
    this.text.textContent = text;
    return true;
  }

  stop() {
    if (!this.animation) return;
    this.animation.onfinish = null;
    this.animation.cancel();
    this.animation = null;
    this.box.classList.remove('scrolling');
  }

  overflows() {
    return this.text.offsetWidth - this.box.clientWidth > 1 && typeof this.text.animate === 'function';
  }

  /** Scrolls to the end, rests there, and is back at the start with its ellipsis; then `done`. */
  scrollOnce(done) {
    this.stop();
    const overflow = this.text.offsetWidth - this.box.clientWidth;
    this.box.classList.add('scrolling');
    const move = (overflow / MARQUEE_SPEED) * 1000;
    const total = move + TICKER_PAUSE_MS;
    const end = `translateX(${-overflow}px)`;
    this.animation = this.text.animate(
      [
        { transform: 'translateX(0)', offset: 0 },
        { transform: end, offset: move / total },
        { transform: end, offset: 1 },
      ],
      { duration: total },
    );
    this.animation.onfinish = () => {
      this.animation = null;
      this.box.classList.remove('scrolling');
      done();
    };
  }
}

function hueOf(text) {
  let h = 2166136261;
  for (let i = 0; i < text.length; i++) h = Math.imul(h ^ text.charCodeAt(i), 16777619);
  return (h >>> 0) % 360;
}

export class DeviceView {
  constructor(doc = document) {
    this.doc = doc;
    this.$ = (id) => doc.getElementById(id);
    this.stage = this.$('stage');
    this.device = this.$('device');
    this.body = this.$('body');
    this.screenEl = this.$('screen');
    this.wheel = this.$('wheel');
    this.centerButton = this.$('center-button');
    this.wheelTouch = this.$('wheel-touch');
    this.pagesEl = this.$('pages');
    this.statusPlay = this.$('status-play');
    this.statusTitle = this.$('status-title');
    this.statusLock = this.$('status-lock');
    this.statusBattery = this.$('status-battery');
    this.toast = this.$('toast');
    this.statusPlug = this.$('status-plug');
    this.lockOverlay = this.$('lock-overlay');
    this.letter = this.$('letter');
    this.hint = this.$('hint');
    this.pages = new WeakMap(); // screen -> page element
    this.currentPage = null;
    this.app = null;
    this.timers = {};
    this.size = SIZES[0];
    this.metrics = this.#metricsFor(this.size);
    this.tickers = new Set(); // those that may be running now
    this.rowArtwork = new RowArtwork();
    this.artLists = new WeakMap(); // a list's items -> whether its rows show covers
    this.#placeParts();
    this.layout();
  }

  attach(app) {
    this.app = app;
    app.setLayout(this.size);
    this.bodyChanged();
    this.hintChanged();
    this.screenChanged('none');
    this.statusChanged();
    // Text measured before the shipped font arrived was measured in another font.
    this.doc.fonts?.ready?.then(() => this.#render(this.app.screen));
  }

  // --- geometry ---------------------------------------------------------------------------------

  #placeParts() {
    const body = this.body.style;
    body.left = pct((1 - BODY_WIDTH_FRACTION) / 2);
    body.top = pct((1 - BODY_HEIGHT_FRACTION) / 2);
    body.width = pct(BODY_WIDTH_FRACTION);
    body.height = pct(BODY_HEIGHT_FRACTION);
    const wheel = this.wheel.style;
    wheel.left = pct(WHEEL_CENTER_X - WHEEL_RADIUS_X);
    wheel.top = pct(WHEEL_CENTER_Y - WHEEL_RADIUS_Y);
    wheel.width = pct(2 * WHEEL_RADIUS_X);
    wheel.height = pct(2 * WHEEL_RADIUS_Y);
    const center = this.centerButton.style;
    center.left = center.top = pct(0.5 - CENTER_BUTTON_FRACTION / 2);
    center.width = center.height = pct(CENTER_BUTTON_FRACTION);
  }

  #metricsFor(size) {
    const listHeight = SCREEN_HEIGHT - size.statusHeight;
    return { listHeight, rowHeight: listHeight / size.rows };
  }

  /** Scales the design box to the window (always exactly the device) and fits the screen's text. */
  layout(width = window.innerWidth, height = window.innerHeight) {
    this.device.style.transform = `scale(${width / DESIGN_WIDTH}, ${height / DESIGN_HEIGHT})`;
    this.scale = width / DESIGN_WIDTH;
    this.stage.classList.add('ready');
    const size = SIZES.find((s) => width >= s.minWidth);
    if (size === this.size && this.device.dataset.size) return;
    this.size = size;
    this.metrics = this.#metricsFor(size);
    this.device.dataset.size = size.name;
    this.device.style.setProperty('--status-h', `${size.statusHeight}px`);
    this.device.style.setProperty('--row-h', `${this.metrics.rowHeight}px`);
    if (!this.app) return;
    this.app.setLayout(size);
    this.#render(this.app.screen);
  }

  applyMotion(motion) {
    const { scale, x, y } = motion.transform;
    const style = this.stage.style;
    if (motion.duration > 0) {
      // Commit the starting transform first, or the browser would merge it into the animation.
      this.stage.getBoundingClientRect();
      style.transition = `transform ${motion.duration}ms cubic-bezier(0.25, 0.8, 0.3, 1)`;
    } else {
      style.transition = 'none';
    }
    style.transform = motion.isIdentity ? '' : `translate(${x}px, ${y}px) scale(${scale})`;
  }

  // The glass's reflection and the body's sheen, both as strong as the amount.
  setGlare(amount) {
    this.device.style.setProperty('--glare', String(amount));
  }

  setShadow(amount) {
    const a = amount;
    this.body.style.boxShadow =
      a <= 0
        ? 'none'
        : `0 ${2 + 7 * a}px ${5 + 16 * a}px rgba(8, 14, 22, ${0.17 * a}), 0 ${0.8 * a}px ${1.5 * a}px rgba(8, 14, 22, ${0.12 * a})`;
  }

  // --- screens ----------------------------------------------------------------------------------

  screenChanged(direction) {
    const screen = this.app.screen;
    clearTimeout(this.timers.letter);
    this.letter.classList.remove('shown');
    const page = this.#pageFor(screen);
    const old = this.currentPage;
    this.currentPage = page;
    if (old !== page) {
      if (old && direction === 'none') old.remove();
      else if (old) {
        old.classList.remove(...SLIDES);
        old.getBoundingClientRect();
        old.classList.add(direction === 'back' ? 'leave-back' : 'leave-forward');
        clearTimeout(old.removeTimer);
        old.removeTimer = setTimeout(() => {
          if (old !== this.currentPage) old.remove();
        }, PAGE_SLIDE_MS + 30);
      }
      clearTimeout(page.removeTimer);
      page.classList.remove(...SLIDES);
      if (direction === 'none') this.pagesEl.appendChild(page);
      else {
        // Place the page beside the screen without animating, then let it slide in.
        const enter = direction === 'back' ? 'enter-back' : 'enter-forward';
        page.style.transition = 'none';
        page.classList.add(enter);
        this.pagesEl.appendChild(page);
        page.getBoundingClientRect();
        page.style.transition = '';
        page.classList.remove(enter);
      }
    }
    this.#render(screen);
    this.statusChanged();
  }

  screenUpdated(screen) {
    if (screen === this.app.screen) this.#render(screen);
    this.statusChanged();
  }

  selectionChanged(screen) {
    if (screen === this.app.screen) this.#render(screen);
  }

  #pageFor(screen) {
    let page = this.pages.get(screen);
    if (!page) {
      page = element('div', 'page');
      page.dataset.kind = screen.kind;
      this.pages.set(screen, page);
    }
    return page;
  }

  #render(screen) {
    const page = this.#pageFor(screen);
    for (const ticker of this.tickers) {
      if (ticker.page === page) continue;
      ticker.stop();
      this.tickers.delete(ticker);
    }
    if (screen.kind === 'nowPlaying') this.#renderNowPlaying(page, screen);
    else if (screen.kind === 'search') renderSearch(page, screen, this.size);
    else this.#renderList(page, screen);
    this.#scheduleClock();
  }

  #scroll(ticker) {
    if (!this.app.awake) return;
    this.tickers.add(ticker);
    ticker.start();
  }

  #renderList(page, screen) {
    let parts = page.listParts;
    if (!parts) {
      const caption = element('div', 'list-caption', page);
      const rows = element('div', 'rows', page);
      const note = element('div', 'list-note', page);
      const scrollbar = element('div', 'scrollbar', page);
      const thumb = element('div', 'scroll-thumb', scrollbar);
      const status = element('div', 'loading', page);
      status.hidden = true;
      const pool = [];
      for (let i = 0; i <= Math.max(...SIZES.map((size) => size.rows)); i++) {
        const row = element('div', 'row', rows);
        const art = element('div', 'row-art', row);
        const number = element('div', 'row-number', row);
        const text = element('div', 'row-text', row);
        const title = new Marquee(element('div', 'row-title', text));
        const subtitle = element('div', 'row-subtitle', text);
        const value = element('div', 'row-value', row);
        element('div', 'row-chevron', row);
        pool.push({ row, art, artPath: null, number, title, subtitle, value, top: '' });
      }
      const ticker = Object.assign(new Ticker(), { page });
      parts = page.listParts = { caption, rows, note, scrollbar, thumb, status, pool, ticker };
    }
    const { status, pool, thumb, caption, note } = parts;
    const { rowHeight, listHeight } = this.metrics;
    const captionShown = this.size.subtitles && Boolean(screen.caption) && !screen.loading;
    caption.hidden = !captionShown;
    if (captionShown) setText(caption, screen.caption);
    note.hidden = !screen.note || screen.loading;
    if (screen.note) setText(note, screen.note);
    if (screen.loading || screen.items.length === 0) {
      status.hidden = false;
      status.className = screen.loading ? 'loading' : 'empty';
      setText(status, screen.loading ? 'Loading…' : 'Empty');
      for (const slot of pool) slot.row.hidden = true;
      parts.ticker.stop();
      parts.ticker.lines = [];
      page.classList.remove('scrollable');
      return;
    }
    status.hidden = true;
    const win = screen.window;
    const { start, end } = win.range;
    const offset = captionShown ? 1 : 0;
    const subtitles = this.size.subtitles && !captionShown && !screen.note;
    const withArt = this.#listShowsArt(screen.items);
    page.classList.toggle('with-art', withArt);
    let selectedTitle = null;
    let selectedChanged = false;
    for (let i = 0; i < pool.length; i++) {
      const slot = pool[i];
      const index = start + i;
      if (index >= end) {
        slot.row.hidden = true;
        continue;
      }
      const item = screen.items.at(index) ?? {};
      slot.row.hidden = false;
      this.#rowArt(slot, withArt ? artworkPath(item.artwork) : null);
      const top = `${(i + offset) * rowHeight}px`;
      if (slot.top !== top) slot.row.style.top = slot.top = top;
      const changed = slot.title.setText(typeof item.title === 'string' ? item.title : '');
      const subtitle = subtitles ? secondLine(item) : '';
      setText(slot.subtitle, subtitle);
      slot.subtitle.hidden = subtitle === '';
      // An album's songs: their place on it before the title, their length after it.
      const albumTrack = screen.album && typeof item.id === 'string' && item.id.startsWith('music-track:');
      const number = albumTrack ? formatTrackNumber(item.trackNumber, item.discNumber, screen.discs) : '';
      setText(slot.number, number);
      slot.number.hidden = number === '';
      const duration = albumTrack && Number.isFinite(item.duration) && item.duration > 0 ? formatTime(item.duration) : '';
      // Rows that would read the same keep what tells them apart.
      const tag = item.value === undefined && typeof item.checked !== 'boolean' && !number && !duration ? disambiguator(screen.items, index, subtitle !== '') : '';
      const value = item.value ?? (typeof item.checked === 'boolean' ? (item.checked ? 'On' : 'Off') : duration || tag);
      setText(slot.value, value);
      slot.value.hidden = value === '';
      setData(slot.value, 'kind', duration ? 'duration' : tag ? 'tag' : '');
      const selected = index === win.selected && !item.inert;
      if (selected) {
        selectedTitle = slot.title;
        selectedChanged = changed;
      }
      const cls =
        'row' +
        (selected ? ' selected' : '') +
        (item.hasChildren ? ' has-children' : '') +
        (item.kind === 'action' ? ' action' : '') +
        (item.inert ? ' inert' : '');
      if (slot.row.className !== cls) slot.row.className = cls;
      setData(slot.row, 'index', String(index));
    }
    // Only the selected row's title scrolls, and only once the selection has rested on it.
    const { ticker } = parts;
    if (selectedTitle !== ticker.lines[0] || selectedChanged || (selectedTitle && !this.tickers.has(ticker))) {
      ticker.stop();
      ticker.lines = selectedTitle ? [selectedTitle] : [];
      if (selectedTitle) this.#scroll(ticker);
    }
    page.classList.toggle('scrollable', win.scrollable);
    setStyle(parts.scrollbar, 'top', `${offset * rowHeight}px`);
    const t = win.thumb(listHeight - offset * rowHeight);
    if (t) {
      setStyle(thumb, 'height', `${t.height}px`);
      setStyle(thumb, 'transform', `translateY(${t.top}px)`);
    }
  }

  // --- covers -----------------------------------------------------------------------------------

  #listShowsArt(items) {
    // A list that arrives in windows knows as its rows come; a whole list is looked at once.
    if (!Array.isArray(items)) return Boolean(items?.hasArtwork);
    let shows = this.artLists.get(items);
    if (shows === undefined) this.artLists.set(items, (shows = listHasArtwork(items)));
    return shows;
  }

  // A row shows its cover at once when it has loaded before; the others are asked for once the
  // list rests, so a step never waits on a picture.
  #rowArt(slot, path) {
    if (slot.artPath === path) return;
    slot.artPath = path;
    const shown = path !== null && this.rowArtwork.isLoaded(path);
    setStyle(slot.art, 'backgroundImage', shown ? `url("${path}")` : '');
    slot.art.classList.toggle('loaded', shown);
    if (path !== null && !shown) {
      clearTimeout(this.timers.rowArt);
      this.timers.rowArt = setTimeout(() => this.#loadRowArt(), ROW_ART_REST_MS);
    }
  }

  #loadRowArt() {
    const pool = this.currentPage?.listParts?.pool ?? [];
    const wanted = pool.filter((slot) => !slot.row.hidden && slot.artPath !== null).map((slot) => slot.artPath);
    this.rowArtwork.load(wanted, (path) => {
      for (const slot of this.currentPage?.listParts?.pool ?? []) {
        if (slot.artPath !== path) continue;
        slot.artPath = null;
        this.#rowArt(slot, path);
      }
    });
  }

  // Now Playing's cover takes the placeholder's place once the picture has loaded: at once when it
  // comes with the song's text, with a short fade when it comes after (a picture MPD was still
  // reading). One cover gives way to the next without the placeholder between them.
  #showCover(parts, path) {
    if (parts.coverPath === path) return;
    parts.coverPath = path;
    const { art, cover } = parts;
    if (path === null) {
      art.classList.remove('has-cover');
      cover.classList.remove('shown');
      cover.removeAttribute('src');
      return;
    }
    const next = new Image();
    next.onload = () => {
      if (parts.coverPath !== path) return;
      cover.src = path;
      cover.classList.toggle('fade', performance.now() - parts.artChangedAt > COVER_LATE_MS);
      art.classList.add('has-cover');
      cover.classList.add('shown');
    };
    next.onerror = () => {
      if (parts.coverPath !== path) return;
      art.classList.remove('has-cover');
      cover.classList.remove('shown');
    };
    next.src = path;
  }

  /** A long list spins fast: its current initial letter, large, until the spin slows. */
  letterShown(letter) {
    setText(this.letter, letter);
    this.letter.classList.add('shown');
    clearTimeout(this.timers.letter);
    this.timers.letter = setTimeout(() => this.letter.classList.remove('shown'), LETTER_SHOWN_MS);
  }

  // --- now playing ------------------------------------------------------------------------------

  #renderNowPlaying(page, screen) {
    let parts = page.npParts;
    if (!parts) {
      const root = element('div', 'np', page);
      const queue = element('div', 'np-queue', root);
      const art = element('div', 'np-art', root);
      const cover = element('img', 'np-cover', art);
      cover.alt = '';
      cover.draggable = false;
      const text = element('div', 'np-text', root);
      const title = new Marquee(element('div', 'np-title', text));
      const artist = new Marquee(element('div', 'np-artist', text));
      const album = new Marquee(element('div', 'np-album', text));
      const bottom = element('div', 'np-bottom', root);
      const track = element('div', 'np-track', bottom);
      const fill = element('div', 'np-fill', element('div', 'np-bar', track));
      const knobTrack = element('div', 'np-knob-track', track);
      element('div', 'np-knob', knobTrack);
      const times = element('div', 'np-times', bottom);
      const elapsed = element('span', 'np-elapsed', times);
      const scan = element('span', 'np-scan', times);
      const remaining = element('span', 'np-remaining', times);
      const footer = element('div', 'np-footer', root);
      const playState = element('span', 'np-state', footer);
      const modes = element('span', 'np-modes', footer);
      const shuffle = element('span', 'np-mode shuffle', modes);
      const repeat = element('span', 'np-mode repeat', modes);
      const volume = element('div', 'np-volume', root);
      element('span', 'speaker', volume);
      const volumeBar = element('div', 'np-bar', volume);
      const volumeFill = element('div', 'np-fill', volumeBar);
      element('span', 'speaker loud', volume);
      // Title, artist and album take turns to scroll.
      const ticker = Object.assign(new Ticker([title, artist, album]), { page });
      parts = page.npParts = {
        root, queue, art, cover, coverPath: null, artChangedAt: 0, title, artist, album, ticker, fill, knobTrack, elapsed, scan, remaining,
        volume, volumeFill, playState, shuffle, repeat, artKey: null, size: null, filled: null, barPixels: null,
      };
    }
    const state = this.app.player.state;
    parts.root.classList.toggle('scrub', screen.mode === 'scrub');
    setText(parts.queue, formatQueuePosition(state.queuePosition, state.queueCount));
    const resized = parts.size !== this.size;
    parts.size = this.size;
    let retext = false;
    for (const [marquee, text] of [[parts.title, state.title], [parts.artist, state.artist], [parts.album, state.album ?? '']]) {
      if (marquee.setText(text)) retext = true;
    }
    if (retext || resized || !this.tickers.has(parts.ticker)) this.#scroll(parts.ticker);
    const artKey = state.album || state.title;
    if (parts.artKey !== artKey) {
      parts.artKey = artKey;
      parts.artChangedAt = performance.now();
      const hue = hueOf(artKey);
      parts.art.style.background = `linear-gradient(145deg, hsl(${hue} 62% 62%), hsl(${(hue + 48) % 360} 58% 34%))`;
    }
    this.#showCover(parts, state.artwork);
    setStyle(parts.volumeFill, 'transform', `translateX(${this.app.volume - 100}%)`);
    const scan = this.app.player.scan;
    const playing = state.isPlaying ? 'Playing' : this.app.hasTrack ? 'Paused' : '';
    const mode = screen.mode === 'scrub' ? 'scrub' : scan ? 'scan' : state.isPlaying ? 'playing' : 'paused';
    setText(parts.playState, screen.mode === 'scrub' ? 'Scrubbing' : scan ? (scan.direction < 0 ? 'Rewind' : 'Fast Forward') : playing);
    setData(parts.playState, 'state', mode);
    setData(parts.root, 'scan', scan ? (scan.direction < 0 ? 'back' : 'forward') : '');
    const { repeat } = this.app.settings;
    parts.shuffle.hidden = !this.app.shuffled;
    parts.repeat.hidden = repeat === 'Off';
    parts.repeat.classList.toggle('one', repeat === 'One');
    this.#updateClock(parts, screen);
  }

  #updateClock(parts, screen) {
    const state = this.app.player.state;
    const elapsed = screen.mode === 'scrub' ? screen.scrubPosition : this.app.player.elapsed();
    const progress = state.duration > 0 ? Math.min(1, elapsed / state.duration) : 0;
    // The bar moves by transform alone (no layout), and only when its filled part gains or loses a
    // whole screen pixel: a move of a fraction repaints the strip and changes nothing one can see.
    const barPixels = PROGRESS_WIDTH * this.scale;
    const filled = Math.round(progress * barPixels);
    if (parts.filled !== filled || parts.barPixels !== barPixels) {
      parts.filled = filled;
      parts.barPixels = barPixels;
      const shown = barPixels > 0 ? filled / barPixels : progress;
      parts.fill.style.transform = `translateX(${(shown - 1) * 100}%)`;
      parts.knobTrack.style.transform = `translateX(${shown * 100}%)`;
    }
    setText(parts.elapsed, formatTime(elapsed));
    setText(parts.remaining, state.duration > 0 ? formatRemaining(elapsed, state.duration) : '');
  }

  // The clock runs only while it moves on an awake screen: once a second, at the next whole second
  // of the position (the bar moves in the same redraw), and never while paused; a scan, which
  // the user is holding, redraws every CLOCK_SCAN_MS.
  #scheduleClock() {
    clearTimeout(this.timers.clock);
    this.timers.clock = null;
    const app = this.app;
    const screen = app.screen;
    const parts = this.currentPage?.npParts;
    if (screen.kind !== 'nowPlaying' || !parts || !app.awake || screen.mode === 'scrub') return;
    if (!app.player.state.isPlaying && !app.player.scan) return;
    let delay = CLOCK_SCAN_MS;
    if (!app.player.scan) {
      const elapsed = app.player.elapsed();
      delay = (Math.floor(elapsed) + 1 - elapsed) * 1000 + 5;
    }
    this.timers.clock = setTimeout(() => {
      this.timers.clock = null;
      if (this.app.screen !== screen) return;
      this.#updateClock(parts, screen);
      this.#scheduleClock();
    }, delay);
  }

  nowPlayingChanged() {
    const screen = this.app.screen;
    if (screen.kind === 'nowPlaying') this.#render(screen);
  }

  volumeShown() {
    const parts = this.currentPage?.npParts;
    if (!parts) return;
    parts.volumeFill.style.transform = `translateX(${this.app.volume - 100}%)`;
    parts.volume.classList.add('shown');
    clearTimeout(this.timers.volume);
    this.timers.volume = setTimeout(() => parts.volume.classList.remove('shown'), VOLUME_SHOWN_MS);
  }

  // --- status bar and overlays ------------------------------------------------------------------

  statusChanged() {
    const app = this.app;
    if (!app) return;
    const state = app.player.state;
    const icon = !app.hasTrack ? '' : state.isPlaying ? PLAY_ICON : PAUSE_ICON;
    if (this.statusPlay.dataset.icon !== icon) {
      this.statusPlay.dataset.icon = icon;
      this.statusPlay.innerHTML = icon;
    }
    setData(this.statusPlay, 'state', !app.hasTrack ? 'none' : state.isPlaying ? 'playing' : 'paused');
    if (app.busy > 0) {
      if (!this.timers.busy && !this.statusPlay.classList.contains('busy')) {
        this.timers.busy = setTimeout(() => {
          this.timers.busy = null;
          if (this.app.busy > 0) this.statusPlay.classList.add('busy');
        }, BUSY_SHOWN_AFTER_MS);
      }
    } else {
      clearTimeout(this.timers.busy);
      this.timers.busy = null;
      this.statusPlay.classList.remove('busy');
    }
    setText(this.statusTitle, app.screen.title);
    this.statusLock.hidden = !app.hold;
    // A machine without a battery never reports one: once the native side is ready, a plug.
    this.statusPlug.hidden = Boolean(app.battery) || !app.ready;
    if (app.battery) {
      this.statusBattery.hidden = false;
      const percent = batteryPercent(app.battery.level);
      setStyle(this.statusBattery.firstElementChild, 'width', `${percent}%`);
      this.statusBattery.classList.toggle('low', percent <= 20);
      this.statusBattery.classList.toggle('charging', app.battery.charging);
      if (this.statusBattery.title !== `${percent}%`) this.statusBattery.title = `${percent}%`;
    }
  }

  bodyChanged() {
    this.device.dataset.body = this.app.settings.body;
  }

  message(text, kind = 'error') {
    setText(this.toast, text);
    this.toast.className = `toast shown ${kind}`;
    clearTimeout(this.timers.toast);
    this.timers.toast = setTimeout(() => (this.toast.className = `toast ${kind}`), MESSAGE_MS);
  }

  hintChanged() {
    this.hint.hidden = !this.app.menuHint;
  }

  holdChanged() {
    this.statusChanged();
    if (this.app.hold) this.lockFlash();
  }

  lockFlash() {
    this.lockOverlay.classList.add('shown');
    clearTimeout(this.timers.lock);
    this.timers.lock = setTimeout(() => this.lockOverlay.classList.remove('shown'), LOCK_FLASH_MS);
  }

  awakeChanged() {
    const { awake, lit } = this.app;
    this.screenEl.classList.toggle('dark', !lit);
    this.device.classList.toggle('asleep', !awake);
    if (awake) {
      this.#render(this.app.screen);
      return;
    }
    // Asleep nothing runs: no clock, no scrolling text.
    clearTimeout(this.timers.clock);
    this.timers.clock = null;
    for (const ticker of this.tickers) ticker.stop();
    this.tickers.clear();
  }

  chassisTapped() {
    this.body.classList.add('tapped');
    clearTimeout(this.timers.tap);
    this.timers.tap = setTimeout(() => this.body.classList.remove('tapped'), 110);
  }

  // --- wheel feedback ---------------------------------------------------------------------------

  touchAt(angle) {
    this.wheelTouch.style.setProperty('--touch-angle', `${angle}deg`);
    this.wheelTouch.classList.add('active');
  }

  touchEnd() {
    this.wheelTouch.classList.remove('active');
  }

  centerPressed(pressed) {
    this.centerButton.classList.toggle('pressed', pressed);
  }
}
