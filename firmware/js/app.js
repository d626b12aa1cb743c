// The device's behaviour: screens, navigation and what each input does. No DOM here: the view and
// the sounds are handed in, so every decision stays in one place and reads without the page.

import { CHUNK_ROWS, ListRows } from './listrows.js';
import { ListWindow } from './listwindow.js';
import { ACCELERATION_MIN_ROWS, Accelerator } from './wheel.js';
import {
  DEFAULT_BACKLIGHT,
  aboutItems,
  backlightMs,
  hasLoadedTrack,
  isAlbumList,
  libraryAction,
  libraryNote,
  mainMenuItems,
  settingChange,
  settingsItems,
  sharedSubtitle,
  spansDiscs,
  storedSettings,
} from './menu.js';
import { PlayerModel, clampVolume } from './player.js';
import { LatestValueSender } from './bridge.js';
import { errorText } from './errors.js';
import { initialOf } from './format.js';
import { TypeAhead, jumpIndex, narrowIndex, searchKey, sectionAt, sectionRange, sectionsOf } from './typeahead.js';
import { SEARCH_ROW_ID, SearchController, withSearchRow } from './search.js';

export const VISIBLE_ROWS = 6; // at the larger sizes; the view sets the count for each size
// Without input the backlight goes off after this, unless the setting says otherwise.
export const IDLE_MS = backlightMs(DEFAULT_BACKLIGHT);
export const VOLUME_STEP = 2;
export const SEEK_DEBOUNCE_MS = 350;
export const SCRUB_IDLE_MS = 4_000;
// A waking screen stays dark until the player's reading arrives, so it never shows a stale song,
// but no longer than this.
export const WAKE_DEADLINE_MS = 400;
// Waits before each new "ready" after a failed one; the last repeats.
export const READY_RETRY_MS = [1_000, 2_000, 4_000, 8_000, 16_000, 30_000];
// Consecutive fast steps in a long list after which its current initial letter is shown large.
export const FAST_LETTER_STEPS = 4;

const forward = 'forward';
const back = 'back';

export class App {
  // Starts of music asked for so far; the latest is the one the user waits on.
  #starts = 0;

  /**
   * `bridge`: a BridgeClient. `view`: told about every change (DeviceView's methods). `sound`:
   * tick(), press() and knock(). `timers`: setTimeout/clearTimeout. `now`: milliseconds.
   */
  constructor({ bridge, view, sound, timers = globalThis, now = () => performance.now(), random = Math.random, prefs = null }) {
    this.bridge = bridge;
    this.view = view;
    this.sound = sound;
    this.timers = timers;
    this.now = now;
    this.random = random;
    this.prefs = prefs; // get(key)/set(key, value) of the firmware's own settings, or null
    this.player = new PlayerModel(now);
    this.volume = 50;
    this.settings = {
      shuffle: 'Off',
      repeat: 'Off',
      transport: 'system',
      alwaysOnTop: false,
      ...storedSettings(prefs),
    };
    // Whether what plays was started shuffled (Shuffle Songs asks so without touching the setting);
    // null until the device starts something or the player says.
    this.queueShuffled = null;
    this.battery = null;
    this.ready = false; // "ready" has been answered
    this.readyAttempts = 0;
    this.readyTimer = null;
    this.readyWaiting = false; // a failed "ready" waits to be sent again
    this.awake = true;
    this.lit = true; // the backlight: off while asleep and while a waking screen is not yet current
    this.lightHeld = false; // Now Playing shows music playing: the backlight stays on
    this.wakeTimer = null;
    this.layout = { rows: VISIBLE_ROWS, subtitles: true };
    this.hold = false;
    // Once, on the first start: the body's menu is where sizes and glare are. Shown until the first
    // input, and kept as seen in the page's storage.
    this.menuHint = prefs !== null && prefs.get('menuHint') !== 'seen';
    this.busy = 0;
    this.accelerator = new Accelerator();
    this.typeAhead = new TypeAhead();
    this.idleTimer = null;
    this.scrubTimer = null;
    this.seekTimer = null;
    this.seeking = false; // a back/forward hold is scanning
    this.volumeSender = new LatestValueSender(
      (volume) => this.bridge.request('setVolume', { volume }),
      (error) => this.#fail(error),
    );
    this.stack = [this.#menuScreen('menu', 'Wheelbox', mainMenuItems(this.player.state))];
    this.searchController = new SearchController({
      request: (method, params) => this.#call(method, params, { quiet: true }),
      fail: (error) => this.#fail(error),
      tick: () => {
        this.sound.tick();
        this.bridge.notify('haptic');
      },
      press: () => this.sound.press(),
      changed: (screen) => this.view.screenUpdated(screen),
      open: (row) => this.#openList(row.id, row.title),
      play: (row) => this.#play({ id: row.id, ...this.#playback() }, 'select'),
    });
  }

  #menuScreen(kind, title, items, extra = {}) {
    const screen = { kind, title, items, loading: false, caption: null, note: null, ...extra };
    screen.window = new ListWindow(items.length, this.#rowsFor(screen));
    return screen;
  }

  // A list whose rows share one subtitle shows it once, in the place of its first row.
  #rowsFor(screen) {
    return Math.max(1, this.layout.rows - (this.layout.subtitles && screen.caption ? 1 : 0));
  }

  /** The view's layout for the device size: rows a list shows, and whether rows have subtitles. */
  setLayout({ rows, subtitles }) {
    this.layout = { rows: Math.max(1, Math.trunc(rows) || VISIBLE_ROWS), subtitles: subtitles !== false };
    for (const screen of this.stack) {
      screen.window?.setVisibleRows(this.#rowsFor(screen));
      screen.search?.setVisibleRows(this.layout.rows);
    }
  }

  /** Whether typed keys are text for the screen (a search) rather than jumps. */
  get typing() {
    return this.screen.kind === 'search';
  }

  get screen() {
    return this.stack[this.stack.length - 1];
  }

  // --- start-up and native pushes ---------------------------------------------------------------

  start() {
    this.#restartIdle();
    return this.#sendReady();
  }

  // "ready" starts the native side's pushes, so a failed one is sent again, less often each time
  // (and not while the screen sleeps). Only the first failure is shown.
  #sendReady() {
    this.timers.clearTimeout(this.readyTimer);
    this.readyTimer = null;
    this.readyWaiting = false;
    const attempt = this.readyAttempts++;
    return this.#call('ready', {}, { quiet: attempt > 0 }).then(
      (result) => {
        this.ready = true;
        if (result && typeof result === 'object') {
          if (typeof result.transport === 'string') this.settings.transport = result.transport;
          if (typeof result.volume === 'number') this.volume = clampVolume(result.volume);
          this.nowPlaying(result.nowPlaying);
        }
        this.view.statusChanged();
      },
      () => {
        if (!this.bridge.available) return; // nothing to retry against
        this.readyWaiting = true;
        const delay = READY_RETRY_MS[Math.min(attempt, READY_RETRY_MS.length - 1)];
        this.readyTimer = this.timers.setTimeout(() => {
          this.readyTimer = null;
          if (this.awake) this.#sendReady();
        }, delay);
      },
    );
  }

  nowPlaying(raw) {
    if (!raw || typeof raw !== 'object') return;
    const before = this.player.state;
    let changed = this.player.update(raw);
    const screen = this.screen;
    if (screen.kind === 'nowPlaying' && screen.mode === 'scrub') {
      const after = this.player.state;
      // A scrub position means nothing in another track: drop it instead of seeking there.
      if (after.persistentID !== before.persistentID || after.title !== before.title) {
        this.timers.clearTimeout(this.seekTimer);
        this.seekTimer = null;
        this.timers.clearTimeout(this.scrubTimer);
        screen.mode = 'volume';
      }
    }
    if (typeof raw.volume === 'number' && Number.isFinite(raw.volume)) this.volume = clampVolume(raw.volume);
    if ((raw.repeat === 'Off' || raw.repeat === 'One' || raw.repeat === 'All') && raw.repeat !== this.settings.repeat) {
      this.settings.repeat = raw.repeat;
      changed = true;
    }
    if ((raw.shuffle === 'On' || raw.shuffle === 'Off') && (raw.shuffle === 'On') !== this.queueShuffled) {
      this.queueShuffled = raw.shuffle === 'On';
      changed = true;
    }
    // The reading the clock expected: nothing to redraw.
    if (!changed) return;
    this.#holdLight();
    this.#refreshMainMenu();
    if (this.screen.kind === 'settings') this.#refreshSettings();
    this.view.nowPlayingChanged();
    this.view.statusChanged();
  }

  setBattery(raw) {
    if (!raw || typeof raw !== 'object' || typeof raw.level !== 'number' || !Number.isFinite(raw.level)) return;
    this.battery = { level: Math.min(1, Math.max(0, raw.level)), charging: raw.charging === true };
    this.view.statusChanged();
  }

  setHold(on) {
    this.hold = Boolean(on);
    if (this.hold) this.#cancelPress();
    this.view.holdChanged();
    this.view.statusChanged();
  }

  // --- input ------------------------------------------------------------------------------------

  /**
   * Every input goes through here. Returns false when the input was refused (hold), so the input
   * layer can stop a gesture that has begun.
   */
  input(action, argument) {
    if (this.hold) {
      this.view.lockFlash();
      return false;
    }
    if (this.menuHint) {
      this.menuHint = false;
      this.prefs.set('menuHint', 'seen');
      this.view.hintChanged();
    }
    this.#wake();
    this.#restartIdle();
    if (this.screen.kind === 'search' && this.searchController.input(this.screen, action, argument)) return true;
    switch (action) {
      case 'rotate':
        this.#rotate(argument);
        break;
      case 'scroll':
        // Down the list; on Now Playing up is more (louder, or later while scrubbing), as on any
        // desktop control, while the wheel keeps clockwise for more.
        this.#rotate(this.screen.kind === 'nowPlaying' ? -argument : argument);
        break;
      case 'page':
        if (this.screen.window) this.#moveTo(this.screen, this.screen.window.selected + Math.sign(argument) * this.screen.window.visibleRows);
        break;
      case 'end':
        if (this.screen.window) this.#moveTo(this.screen, argument < 0 ? 0 : this.screen.window.count - 1);
        break;
      case 'type':
        this.#typeJump(argument);
        break;
      case 'select':
        this.sound.press();
        this.#select();
        break;
      case 'menu':
        this.sound.press();
        this.#back();
        break;
      case 'playPause':
      case 'pause':
        this.sound.press();
        this.#call(action).then((r) => this.#applyStatus(r), () => {});
        break;
      case 'skip':
        this.sound.press();
        this.#call('skip', { direction: argument < 0 ? -1 : 1 }).then((r) => this.#applyStatus(r), () => {});
        break;
      case 'seekBegin':
        this.sound.press();
        this.seeking = true;
        if (hasLoadedTrack(this.player.state)) this.player.beginScan(argument);
        this.view.nowPlayingChanged();
        this.#call('beginSeek', { direction: argument < 0 ? -1 : 1 }).catch(() => {});
        break;
      case 'seekEnd':
        if (!this.seeking) break;
        this.seeking = false;
        this.player.endScan();
        this.view.nowPlayingChanged();
        this.#call('endSeek').then((r) => this.#applyStatus(r), () => {});
        break;
      case 'chassis':
        this.sound.knock();
        this.view.chassisTapped();
        break;
      default:
        return false;
    }
    return true;
  }

  #cancelPress() {
    if (this.seeking) {
      this.seeking = false;
      this.player.endScan();
      this.view.nowPlayingChanged();
      this.#call('endSeek').catch(() => {});
    }
  }

  #rotate(steps) {
    const count = Math.trunc(steps);
    if (!count) return;
    const direction = Math.sign(count);
    const screen = this.screen;
    if (screen.narrowing) screen.narrowing = null;
    for (let i = 0; i < Math.abs(count); i++) {
      this.sound.tick();
      this.bridge.notify('haptic');
      if (screen.kind === 'nowPlaying') this.#turnNowPlaying(screen, direction);
      else if (screen.window && !screen.loading) {
        screen.window.move(this.accelerator.step(direction, this.now(), screen.window.count));
      }
    }
    if (screen.kind === 'nowPlaying') return;
    this.view.selectionChanged(screen);
    this.#fetchRows(screen, direction);
    const { window: win, items } = screen;
    if (items && win.count >= ACCELERATION_MIN_ROWS && this.accelerator.fastSteps >= FAST_LETTER_STEPS) {
      const letter = this.#initialAt(screen, win.selected);
      if (letter) this.view.letterShown(letter);
    }
  }

  // A list that comes in windows files its rows under the native side's sections, which need no
  // rows at hand; a whole list under its rows' own initials.
  #initialAt(screen, index) {
    if (screen.rows?.sections) return sectionAt(screen.rows.sections, index);
    return initialOf(screen.items.at(index)?.title);
  }

  // A jump (a page, an end, a typed letter) moves the selection at once, with one click.
  #moveTo(screen, index) {
    if (!screen.window || screen.loading || screen.kind === 'nowPlaying') return;
    this.accelerator.reset();
    if (!screen.window.select(index)) return;
    this.sound.tick();
    this.bridge.notify('haptic');
    this.view.selectionChanged(screen);
    this.#fetchRows(screen);
  }

  #typeJump(character) {
    const screen = this.screen;
    if (!screen.window || screen.loading || !screen.items?.length || typeof character !== 'string') return;
    const query = this.typeAhead.type(character, this.now());
    const titleAt = (index) => screen.items.at(index)?.title;
    let sections = screen.rows?.sections;
    if (!sections) {
      // Without the native side's table, only a list whose every title is at hand can jump.
      if (screen.rows && !screen.rows.complete) return;
      if (screen.sectionsFor !== screen.items) {
        screen.sections = sectionsOf(screen.items.length, titleAt);
        screen.sectionsFor = screen.items;
      }
      sections = screen.sections;
    }
    const index = jumpIndex(query, { sections, count: screen.items.length, titleAt });
    if (index >= 0) this.#moveTo(screen, index);
    const found = index >= 0 && searchKey(titleAt(index) ?? '').startsWith(searchKey(query));
    // Otherwise the rows of its section were not at hand: find the row by halving the section.
    const range = !found && screen.rows && !screen.rows.complete && sectionRange(sections, screen.items.length, initialOf(query));
    screen.narrowing = range ? { query, range } : null;
    this.#narrow(screen);
  }

  // One more step of a narrowing jump: fetches the row that decides it, or moves there once found.
  // It ends with a new letter, a turn of the wheel, another screen, or a failed fetch.
  #narrow(screen) {
    const narrowing = screen.narrowing;
    if (!narrowing || this.screen !== screen || this.typeAhead.query !== narrowing.query) {
      screen.narrowing = null;
      return;
    }
    const found = narrowIndex(narrowing.query, narrowing.range, (index) => screen.items.at(index)?.title);
    if (found.need === undefined) {
      screen.narrowing = null;
      if (found.index >= 0) this.#moveTo(screen, found.index);
      return;
    }
    this.#send(screen, screen.rows.requestsFor([Math.floor(found.need / CHUNK_ROWS)]));
  }

  #turnNowPlaying(screen, direction) {
    if (screen.mode === 'scrub') {
      const { duration } = this.player.state;
      const step = Math.max(1, duration / 100);
      screen.scrubPosition = Math.min(duration, Math.max(0, screen.scrubPosition + direction * step));
      this.#restartScrubTimer(screen);
      this.timers.clearTimeout(this.seekTimer);
      this.seekTimer = this.timers.setTimeout(() => this.#commitScrub(screen), SEEK_DEBOUNCE_MS);
      this.view.nowPlayingChanged();
      return;
    }
    const volume = clampVolume(this.volume + direction * VOLUME_STEP);
    if (volume === this.volume) return;
    this.volume = volume;
    this.volumeSender.push(volume);
    this.view.volumeShown();
  }

  #restartScrubTimer(screen) {
    this.timers.clearTimeout(this.scrubTimer);
    this.scrubTimer = this.timers.setTimeout(() => this.#endScrub(screen), SCRUB_IDLE_MS);
  }

  #commitScrub(screen) {
    this.timers.clearTimeout(this.seekTimer);
    this.seekTimer = null;
    if (screen.pendingSeek === screen.scrubPosition) return;
    screen.pendingSeek = screen.scrubPosition;
    this.#call('seek', { seconds: screen.scrubPosition }).then((r) => this.#applyStatus(r), () => {});
  }

  #endScrub(screen) {
    if (screen.mode !== 'scrub') return;
    if (this.seekTimer !== null) this.#commitScrub(screen);
    this.timers.clearTimeout(this.scrubTimer);
    screen.mode = 'volume';
    this.view.nowPlayingChanged();
  }

  #select() {
    const screen = this.screen;
    if (screen.kind === 'nowPlaying') {
      if (screen.mode === 'scrub') this.#endScrub(screen);
      else if (this.player.state.duration > 0) {
        screen.mode = 'scrub';
        screen.scrubPosition = this.player.elapsed();
        screen.pendingSeek = null;
        this.#restartScrubTimer(screen);
        this.view.nowPlayingChanged();
      }
      return;
    }
    if (screen.loading || !screen.items) return;
    const index = screen.window.selected;
    const row = screen.items.at(index);
    if (!row) return;
    if (screen.kind === 'menu') this.#selectMain(row);
    else if (screen.kind === 'settings') this.#selectSetting(row);
    else if (screen.kind === 'list') this.#selectLibraryRow(screen, row, index);
  }

  #back() {
    const screen = this.screen;
    if (screen.kind === 'nowPlaying') this.#endScrub(screen);
    if (this.stack.length <= 1) return;
    this.stack.pop();
    this.accelerator.reset();
    this.typeAhead.reset();
    if (this.screen.kind === 'menu') this.#refreshMainMenu();
    this.view.screenChanged(back);
    this.#holdLight();
  }

  #push(screen) {
    this.stack.push(screen);
    this.accelerator.reset();
    this.typeAhead.reset();
    this.view.screenChanged(forward);
    this.#holdLight();
    return screen;
  }

  // --- main menu --------------------------------------------------------------------------------

  #selectMain(row) {
    switch (row.id) {
      case 'music':
        this.#openList('music', 'Music');
        break;
      case 'shuffle-songs':
        this.#shuffleSongs();
        break;
      case 'settings':
        this.#push(this.#menuScreen('settings', 'Settings', settingsItems(this.settings)));
        this.#call('getSettings').then((result) => {
          if (!result || typeof result !== 'object') return;
          if (typeof result.transport === 'string') this.settings.transport = result.transport;
          if (typeof result.volume === 'number') this.volume = clampVolume(result.volume);
          if (typeof result.alwaysOnTop === 'boolean') this.settings.alwaysOnTop = result.alwaysOnTop;
          this.#refreshSettings();
        }, () => {});
        break;
      case 'about':
        this.#openAbout();
        break;
      case 'now-playing':
        this.#showNowPlaying();
        break;
    }
  }

  #refreshMainMenu() {
    const root = this.stack[0];
    const items = mainMenuItems(this.player.state);
    if (items.length === root.items.length) return;
    root.items = items;
    root.window.setCount(items.length);
    if (this.screen === root) this.view.selectionChanged(root);
  }

  #showNowPlaying() {
    if (this.screen.kind === 'nowPlaying') return;
    // One Now Playing at a time: going there again from deep in the library returns to it fresh.
    const existing = this.stack.findIndex((s) => s.kind === 'nowPlaying');
    if (existing >= 0) this.stack.splice(existing, 1);
    this.#push({ kind: 'nowPlaying', title: 'Now Playing', mode: 'volume', scrubPosition: 0, pendingSeek: null });
  }

  #openAbout() {
    const screen = this.#push(this.#menuScreen('about', 'About', [], { loading: true }));
    this.#call('getAbout').then(
      (about) => this.#fill(screen, aboutItems(about)),
      () => this.#abandon(screen),
    );
  }

  // --- library ----------------------------------------------------------------------------------

  #openList(path, title) {
    const screen = this.#push(this.#menuScreen('list', title, [], { loading: true, path, list: null }));
    this.#loadList(screen, 'getList').catch(() => this.#abandon(screen));
  }

  /**
   * Asks for a list's first rows, with its length and sections, and shows them; the rest come in
   * windows as the selection moves (#fetchRows). Rejects when the list could not be fetched (the
   * error is shown).
   */
  #loadList(screen, method) {
    const rows = new ListRows();
    const request = rows.firstRequest();
    return this.#call(method, { path: screen.path, offset: request.offset, limit: request.limit }).then((answer) => {
      if (!this.stack.includes(screen)) return;
      if (answer?.id === 'music' && !libraryNote(answer.items)) answer = withSearchRow(answer);
      rows.accept(answer, request.chunks);
      screen.rows = rows;
      screen.list = { id: typeof answer?.id === 'string' ? answer.id : screen.path, title: answer?.title };
      if (typeof answer?.title === 'string' && answer.title) screen.title = answer.title;
      // What needs every row is decided only for a list that came whole in its first window.
      const first = rows.complete ? rows.rowsFrom(0) : [];
      screen.caption = sharedSubtitle(first);
      screen.note = libraryNote(first);
      screen.album = isAlbumList(screen.list.id);
      screen.discs = screen.album && spansDiscs(first);
      this.#fill(screen, rows);
      globalThis.performance?.mark?.('wheelbox:list-shown');
      this.#fetchRows(screen);
    });
  }

  /**
   * Asks for the windows of rows the screen shows now or will soon, moving in `direction` (0 at
   * rest), that are neither at hand nor on their way. These requests are not the user's: they
   * keep the status bar quiet, and only the failure of rows on screen is shown.
   */
  #fetchRows(screen, direction = 0) {
    const rows = screen.rows;
    if (!rows || screen.loading) return;
    const win = screen.window;
    rows.trim(win.selected);
    const fastSteps = direction ? this.accelerator.fastSteps : 0;
    const wanted = rows.wantedChunks({ top: win.top, visible: win.visibleRows, selected: win.selected, direction, fastSteps });
    this.#send(screen, rows.requestsFor(wanted));
  }

  #send(screen, requests) {
    const rows = screen.rows;
    for (const request of requests) {
      this.bridge.request('getList', { path: screen.path, offset: request.offset, limit: request.limit }).then(
        (answer) => this.#rowsArrived(screen, rows, answer, request),
        (error) => {
          rows.failed(request.chunks);
          screen.narrowing = null;
          if (this.screen === screen && screen.rows === rows && this.#onScreen(screen, request)) this.#fail(error);
        },
      );
    }
  }

  #onScreen(screen, { offset, limit }) {
    const { start, end } = screen.window.range;
    return offset < end && offset + limit > start;
  }

  #rowsArrived(screen, rows, answer, request) {
    if (!this.stack.includes(screen) || screen.rows !== rows) return;
    const count = rows.count;
    const outcome = rows.accept(answer, request.chunks);
    if (outcome === 'stale') {
      if (screen.narrowing) this.#narrow(screen);
      return;
    }
    if (rows.count !== count) screen.window.setCount(rows.count);
    // The library was read again: what was at hand is gone, so the screen needs its rows anew.
    if (outcome === 'reset') this.#fetchRows(screen);
    if (this.screen === screen && (outcome === 'reset' || rows.count !== count || this.#onScreen(screen, request))) {
      this.view.selectionChanged(screen);
    }
    if (screen.narrowing) this.#narrow(screen);
  }

  #fill(screen, items) {
    if (!this.stack.includes(screen)) return;
    screen.items = items;
    screen.window = new ListWindow(items.length, this.#rowsFor(screen));
    screen.loading = false;
    if (this.screen === screen) this.view.screenUpdated(screen);
  }

  // A screen whose content could not be fetched goes away again; the error text says why.
  #abandon(screen) {
    const index = this.stack.indexOf(screen);
    if (index < 0) return;
    const wasTop = index === this.stack.length - 1;
    this.stack.splice(index, 1);
    if (wasTop) this.view.screenChanged(back);
    this.#holdLight();
  }

  #playback() {
    return { volume: this.volume, shuffle: this.settings.shuffle, repeat: this.settings.repeat };
  }

  #selectLibraryRow(screen, row, index) {
    if (row.id === SEARCH_ROW_ID && screen.list?.id === 'music') {
      this.#push(this.searchController.screen(this.layout.rows));
      return;
    }
    const action = libraryAction(screen.list, row, index, this.#playback());
    if (!action) return;
    if (action.kind === 'open') {
      this.#openList(action.params.path, row.title);
    } else if (action.kind === 'refresh') {
      screen.loading = true;
      this.view.screenUpdated(screen);
      this.#loadList(screen, action.method).catch(() => {
        screen.loading = false;
        if (this.screen === screen) this.view.screenUpdated(screen);
      });
    } else if (action.kind === 'play') {
      this.#play(action.params);
    }
  }

  // The shuffle sent is the order of this collection only: the Shuffle setting stays the user's.
  // A start the user has since replaced with another may fail as the player drops it; only the
  // latest start's failure is theirs to read.
  #play(params, method = 'playCollection') {
    const start = ++this.#starts;
    return this.#call(method, params, { quiet: true }).then(
      (result) => {
        this.queueShuffled = params.shuffle === 'On';
        this.#applyStatus(result);
        this.#showNowPlaying();
      },
      (error) => {
        if (start === this.#starts) this.#fail(error);
      },
    );
  }

  // The songs list's length first, then the one row drawn from it: two small answers, whatever
  // the library's size. An answer without "count" is the whole list.
  #shuffleSongs() {
    const path = 'music/songs';
    const isSong = (row) => row?.playable === true && typeof row.id === 'string' && row.id.startsWith('music-track:');
    this.#call('getList', { path, offset: 0, limit: 1 })
      .then(async (first) => {
        const items = Array.isArray(first?.items) ? first.items : [];
        const windowed = Number.isInteger(first?.count);
        const count = windowed ? first.count : items.length;
        const note = libraryNote(items);
        if (note || count === 0) {
          this.view.message(note ?? 'No songs to shuffle');
          return;
        }
        const index = Math.min(count - 1, Math.floor(this.random() * count));
        let row = items[index];
        if (windowed && index > 0) row = (await this.#call('getList', { path, offset: index, limit: 1 }))?.items?.[0];
        if (!isSong(row)) {
          this.view.message('No songs to shuffle');
          return;
        }
        this.#play({ path, id: row.id, index, ...this.#playback(), shuffle: 'On' });
      })
      .catch(() => {});
  }

  #applyStatus(result) {
    if (!result || typeof result !== 'object') return;
    if (typeof result.transport === 'string') this.settings.transport = result.transport;
    if (typeof result.volume === 'number') this.volume = clampVolume(result.volume);
    if (result.nowPlaying) this.nowPlaying(result.nowPlaying);
  }

  // --- settings ---------------------------------------------------------------------------------

  #selectSetting(row) {
    if (row.id === 'refresh') {
      this.#call('refreshLibrary', { path: 'music' }).then((list) => {
        const note = libraryNote(list?.items);
        // An empty library is no failure: where music goes is news, not an error.
        if (note) this.view.message(note, list.items[0].title === 'No Music Found' ? 'info' : 'error');
        else this.view.message('Library refreshed', 'info');
      }, () => {});
      return;
    }
    const change = settingChange(row.id, this.settings);
    if (!change) return;
    if (!change.method) {
      // The firmware's own (the body colour, the backlight): no request, kept in the page's storage.
      this.settings = change.settings;
      this.prefs?.set(row.id, this.settings[row.id]);
      if (row.id === 'body') this.view.bodyChanged();
      this.#restartIdle();
      this.#refreshSettings();
      return;
    }
    const before = this.settings;
    this.settings = change.settings;
    this.#refreshSettings();
    this.#call(change.method, change.params).then(
      (result) => {
        if (change.method === 'setTransport') this.#applyStatus(result);
        // The player deals what plays again in the new order.
        if (change.params.setting === 'shuffle') {
          this.queueShuffled = change.params.value === 'On';
          this.view.nowPlayingChanged();
        }
        if (change.method === 'setAlwaysOnTop' && typeof result?.alwaysOnTop === 'boolean') {
          this.settings.alwaysOnTop = result.alwaysOnTop;
        }
        this.#refreshSettings();
      },
      () => {
        // Put back only the field this change touched; others may have moved meanwhile.
        const key = Object.keys(change.settings).find((k) => change.settings[k] !== before[k]);
        if (key) this.settings = { ...this.settings, [key]: before[key] };
        this.#refreshSettings();
      },
    );
  }

  #refreshSettings() {
    const screen = this.stack.find((s) => s.kind === 'settings');
    if (!screen) return;
    screen.items = settingsItems(this.settings);
    if (this.screen === screen) this.view.selectionChanged(screen);
  }

  // --- requests, sleep --------------------------------------------------------------------------

  /** A request whose failure is shown on the screen (unless `quiet`). */
  #call(method, params = {}, { quiet = false } = {}) {
    this.busy++;
    this.view.statusChanged();
    return this.bridge.request(method, params).then(
      (result) => {
        this.busy--;
        this.view.statusChanged();
        return result;
      },
      (error) => {
        this.busy--;
        this.view.statusChanged();
        if (!quiet) this.#fail(error);
        throw error;
      },
    );
  }

  #fail(error) {
    const text = errorText(error?.message ?? String(error));
    if (text) this.view.message(text);
  }

  // The backlight goes off after the setting's time without input, except while Now Playing shows
  // music playing: a glance at the desk tells what plays.
  #restartIdle() {
    this.timers.clearTimeout(this.idleTimer);
    this.idleTimer = null;
    this.lightHeld = this.#musicShown();
    const ms = backlightMs(this.settings.backlight);
    if (ms === null || this.lightHeld) return;
    this.idleTimer = this.timers.setTimeout(() => this.#sleep(), ms);
  }

  // After anything that may start or end music on Now Playing: the backlight's time starts when
  // the music stops or the screen is left, not before.
  #holdLight() {
    if (this.awake && this.#musicShown() !== this.lightHeld) this.#restartIdle();
  }

  #musicShown() {
    return this.screen.kind === 'nowPlaying' && this.player.state.isPlaying;
  }

  #sleep() {
    if (!this.awake) return;
    this.awake = false;
    this.lit = false;
    this.timers.clearTimeout(this.wakeTimer);
    this.view.awakeChanged();
    this.bridge.request('setFirmwareAwake', { awake: false }).catch(() => {});
  }

  // The native side stops pushing while the screen sleeps, so what the screen last showed may be
  // stale: ask for the reading at once and light up when it is in.
  #wake() {
    if (this.awake) return;
    this.awake = true;
    this.view.awakeChanged();
    this.bridge.request('setFirmwareAwake', { awake: true }).catch(() => {});
    const light = () => {
      this.timers.clearTimeout(this.wakeTimer);
      if (!this.awake || this.lit) return;
      this.lit = true;
      this.view.awakeChanged();
    };
    this.wakeTimer = this.timers.setTimeout(light, WAKE_DEADLINE_MS);
    this.bridge
      .request('getNowPlaying')
      .then((reading) => {
        if (this.awake) this.nowPlaying(reading);
      })
      .catch(() => {})
      .finally(light);
    if (this.readyWaiting && this.readyTimer === null) this.#sendReady();
  }

  /** A tap on the body: wakes the screen without doing anything else. */
  chassisClick() {
    return this.input('chassis');
  }

  get hasTrack() {
    return hasLoadedTrack(this.player.state);
  }

  /** Whether Now Playing shows the shuffle mark. */
  get shuffled() {
    return this.queueShuffled ?? this.settings.shuffle === 'On';
  }
}
