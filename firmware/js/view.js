// The DOM side: draws what App decides. Lists draw only their visible rows from a fixed pool of
// row elements, so a list of any length costs the same per frame.

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
import { VISIBLE_ROWS } from './app.js';
import { batteryPercent, formatQueuePosition, formatRemaining, formatTime } from './format.js';

const LIST_HEIGHT = 192; // design px below the status bar; rows are LIST_HEIGHT / VISIBLE_ROWS
const ROW_HEIGHT = LIST_HEIGHT / VISIBLE_ROWS;
const MESSAGE_MS = 3500;
const LOCK_FLASH_MS = 1100;
const VOLUME_SHOWN_MS = 1600;
const BUSY_SHOWN_AFTER_MS = 300;
const PAGE_SLIDE_MS = 200;
const SLIDES = ['enter-forward', 'enter-back', 'leave-forward', 'leave-back'];

const PLAY_ICON = '<svg viewBox="0 0 10 10"><path d="M1 0 L9 5 L1 10 Z"/></svg>';
const PAUSE_ICON = '<svg viewBox="0 0 10 10"><rect x="1" y="0" width="3" height="10" rx="0.5"/><rect x="6" y="0" width="3" height="10" rx="0.5"/></svg>';

const pct = (fraction) => `${fraction * 100}%`;

function element(tag, className, parent) {
  const el = document.createElement(tag);
  if (className) el.className = className;
  if (parent) parent.appendChild(el);
  return el;
}

// Sets text only when it changed: most redraws of a row change nothing but its highlight.
function setText(el, text) {
  if (el.textContent !== text) el.textContent = text;
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
    this.lockOverlay = this.$('lock-overlay');
    this.glare = this.$('glare');
    this.pages = new WeakMap(); // screen -> page element
    this.currentPage = null;
    this.app = null;
    this.timers = {};
    this.#placeParts();
    this.layout();
  }

  attach(app) {
    this.app = app;
    this.screenChanged('none');
    this.statusChanged();
    this.#frame();
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
    this.device.style.setProperty('--row-h', `${ROW_HEIGHT}px`);
  }

  /** Scales the design box to the window; the window is always exactly the device. */
  layout(width = window.innerWidth, height = window.innerHeight) {
    this.device.style.transform = `scale(${width / DESIGN_WIDTH}, ${height / DESIGN_HEIGHT})`;
    this.stage.classList.add('ready');
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

  setGlare(amount) {
    this.glare.style.opacity = String(amount / 2);
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
    if (screen.kind === 'nowPlaying') this.#renderNowPlaying(page, screen);
    else this.#renderList(page, screen);
  }

  #renderList(page, screen) {
    let parts = page.listParts;
    if (!parts) {
      const rows = element('div', 'rows', page);
      const scrollbar = element('div', 'scrollbar', page);
      const thumb = element('div', 'scroll-thumb', scrollbar);
      const status = element('div', 'loading', page);
      status.hidden = true;
      const pool = [];
      for (let i = 0; i <= VISIBLE_ROWS; i++) {
        const row = element('div', 'row', rows);
        row.style.top = `${i * ROW_HEIGHT}px`;
        const text = element('div', 'row-text', row);
        const title = element('div', 'row-title', text);
        const subtitle = element('div', 'row-subtitle', text);
        const value = element('div', 'row-value', row);
        element('div', 'row-chevron', row);
        pool.push({ row, title, subtitle, value, key: '' });
      }
      parts = page.listParts = { rows, scrollbar, thumb, status, pool };
    }
    const { status, pool, thumb } = parts;
    if (screen.loading || screen.items.length === 0) {
      status.hidden = false;
      status.className = screen.loading ? 'loading' : 'empty';
      setText(status, screen.loading ? 'Loading…' : 'Empty');
      for (const slot of pool) slot.row.hidden = true;
      page.classList.remove('scrollable');
      return;
    }
    status.hidden = true;
    const win = screen.window;
    const { start, end } = win.range;
    for (let i = 0; i < pool.length; i++) {
      const slot = pool[i];
      const index = start + i;
      if (index >= end) {
        slot.row.hidden = true;
        continue;
      }
      const item = screen.items[index] ?? {};
      slot.row.hidden = false;
      setText(slot.title, typeof item.title === 'string' ? item.title : '');
      const subtitle = typeof item.subtitle === 'string' ? item.subtitle : '';
      setText(slot.subtitle, subtitle);
      slot.subtitle.hidden = subtitle === '';
      const value = item.value ?? (typeof item.checked === 'boolean' ? (item.checked ? 'On' : 'Off') : '');
      setText(slot.value, value);
      slot.value.hidden = value === '';
      const cls =
        'row' +
        (index === win.selected && !item.inert ? ' selected' : '') +
        (item.hasChildren ? ' has-children' : '') +
        (item.kind === 'action' ? ' action' : '') +
        (item.inert ? ' inert' : '');
      if (slot.row.className !== cls) slot.row.className = cls;
      slot.row.dataset.index = String(index);
    }
    page.classList.toggle('scrollable', win.scrollable);
    const t = win.thumb(LIST_HEIGHT);
    if (t) {
      thumb.style.height = `${t.height}px`;
      thumb.style.transform = `translateY(${t.top}px)`;
    }
  }

  // --- now playing ------------------------------------------------------------------------------

  #renderNowPlaying(page, screen) {
    let parts = page.npParts;
    if (!parts) {
      const root = element('div', 'np', page);
      const queue = element('div', 'np-queue', root);
      const art = element('div', 'np-art', root);
      const text = element('div', 'np-text', root);
      const title = element('div', 'np-title', text);
      const artist = element('div', 'np-artist', text);
      const album = element('div', 'np-album', text);
      const bottom = element('div', 'np-bottom', root);
      const bar = element('div', 'np-bar', bottom);
      const fill = element('div', 'np-fill', bar);
      const knob = element('div', 'np-knob', bar);
      const times = element('div', 'np-times', bottom);
      const elapsed = element('span', 'np-elapsed', times);
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
      parts = page.npParts = { root, queue, art, title, artist, album, fill, knob, elapsed, remaining, volume, volumeFill, playState, shuffle, repeat, artKey: null };
    }
    const state = this.app.player.state;
    parts.root.classList.toggle('scrub', screen.mode === 'scrub');
    setText(parts.queue, formatQueuePosition(state.queuePosition, state.queueCount));
    setText(parts.title, state.title);
    setText(parts.artist, state.artist);
    setText(parts.album, state.album ?? '');
    const artKey = state.album || state.title;
    if (parts.artKey !== artKey) {
      parts.artKey = artKey;
      const hue = hueOf(artKey);
      parts.art.style.background = `linear-gradient(145deg, hsl(${hue} 62% 62%), hsl(${(hue + 48) % 360} 58% 34%))`;
    }
    parts.volumeFill.style.width = `${this.app.volume}%`;
    const playing = state.isPlaying ? 'Playing' : this.app.hasTrack ? 'Paused' : '';
    setText(parts.playState, screen.mode === 'scrub' ? 'Scrubbing' : playing);
    parts.playState.dataset.state = screen.mode === 'scrub' ? 'scrub' : state.isPlaying ? 'playing' : 'paused';
    const { shuffle, repeat } = this.app.settings;
    parts.shuffle.hidden = shuffle !== 'On';
    parts.repeat.hidden = repeat === 'Off';
    parts.repeat.classList.toggle('one', repeat === 'One');
    this.#updateClock(parts, screen);
  }

  #updateClock(parts, screen) {
    const state = this.app.player.state;
    const elapsed = screen.mode === 'scrub' ? screen.scrubPosition : this.app.player.elapsed();
    const progress = state.duration > 0 ? Math.min(1, elapsed / state.duration) : 0;
    parts.fill.style.width = `${progress * 100}%`;
    parts.knob.style.left = `${progress * 100}%`;
    setText(parts.elapsed, formatTime(elapsed));
    setText(parts.remaining, state.duration > 0 ? formatRemaining(elapsed, state.duration) : '');
  }

  // The only continuous work: the Now Playing clock. The loop also keeps the page producing frames.
  #frame() {
    requestAnimationFrame(() => this.#frame());
    const screen = this.app.screen;
    if (screen.kind !== 'nowPlaying') return;
    const parts = this.currentPage?.npParts;
    if (parts) this.#updateClock(parts, screen);
  }

  nowPlayingChanged() {
    const screen = this.app.screen;
    if (screen.kind === 'nowPlaying') this.#render(screen);
  }

  volumeShown() {
    const parts = this.currentPage?.npParts;
    if (!parts) return;
    parts.volumeFill.style.width = `${this.app.volume}%`;
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
    this.statusPlay.dataset.state = !app.hasTrack ? 'none' : state.isPlaying ? 'playing' : 'paused';
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
    if (app.battery) {
      this.statusBattery.hidden = false;
      const percent = batteryPercent(app.battery.level);
      this.statusBattery.firstElementChild.style.width = `${percent}%`;
      this.statusBattery.classList.toggle('low', percent <= 20);
      this.statusBattery.classList.toggle('charging', app.battery.charging);
      this.statusBattery.title = `${percent}%`;
    }
  }

  message(text, kind = 'error') {
    setText(this.toast, text);
    this.toast.className = `toast shown ${kind}`;
    clearTimeout(this.timers.toast);
    this.timers.toast = setTimeout(() => (this.toast.className = `toast ${kind}`), MESSAGE_MS);
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
    this.screenEl.classList.toggle('asleep', !this.app.awake);
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
