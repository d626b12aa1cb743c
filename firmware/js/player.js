// What is playing, as last reported, with the position moved on between reports.

import { artworkPath } from './artwork.js';

export const EMPTY_NOW_PLAYING = Object.freeze({
  source: 'none',
  persistentID: null,
  title: 'Not Playing',
  artist: '',
  album: null,
  elapsed: 0,
  duration: 0,
  isPlaying: false,
  queuePosition: null,
  queueCount: null,
  artwork: null, // where the page loads the cover from, once the native side has one
});

const finiteOr = (value, fallback) => (typeof value === 'number' && Number.isFinite(value) ? value : fallback);
const textOr = (value, fallback) => (typeof value === 'string' ? value : fallback);
const integerOrNull = (value) => (Number.isInteger(value) ? value : null);

/** A pushed or returned reading made safe to show: every field present and of its type. */
export function normalizeNowPlaying(raw) {
  if (!raw || typeof raw !== 'object') return { ...EMPTY_NOW_PLAYING };
  const duration = Math.max(0, finiteOr(raw.duration, 0));
  return {
    source: textOr(raw.source, 'none'),
    persistentID: textOr(raw.persistentID, null),
    title: textOr(raw.title, EMPTY_NOW_PLAYING.title),
    artist: textOr(raw.artist, ''),
    album: textOr(raw.album, null),
    elapsed: Math.max(0, finiteOr(raw.elapsed, 0)),
    duration,
    isPlaying: raw.isPlaying === true,
    queuePosition: integerOrNull(raw.queuePosition),
    queueCount: integerOrNull(raw.queueCount),
    artwork: artworkPath(raw.artwork),
  };
}

export function clampVolume(volume) {
  return Math.min(100, Math.max(0, finiteOr(volume, 50)));
}

// How far a scan has moved the position after `seconds` of holding: the player seeks faster the
// longer the button is held (6.25x for 2 s, 12.5x for 3 s more, then 25x). An estimate, so the
// clock follows the scan between readings; every reading puts it right.
export function scanDistance(seconds) {
  const t = Math.max(0, seconds);
  return 6.25 * Math.min(t, 2) + 12.5 * Math.min(Math.max(t - 2, 0), 3) + 25 * Math.max(t - 5, 0);
}

// A reading within this of where the clock already was is no news.
export const CLOCK_DRIFT_SECONDS = 0.5;

/** Holds the latest reading and when it arrived, so the clock can run on between polls. */
export class PlayerModel {
  constructor(now = () => performance.now()) {
    this.now = now;
    this.state = { ...EMPTY_NOW_PLAYING };
    this.receivedAt = now();
    this.scan = null; // { direction, startedAt } while a back/forward hold scans
  }

  /**
   * Takes a reading. Returns whether it shows anything new: a reading that only moves the position
   * along as the clock already had it (the native side sends one a second while a song plays)
   * changes nothing on screen.
   */
  update(raw) {
    const before = this.state;
    const expected = this.elapsed();
    this.state = normalizeNowPlaying(raw);
    this.receivedAt = this.now();
    const same = Object.keys(before).every((key) => key === 'elapsed' || before[key] === this.state[key]);
    return !(same && Math.abs(this.state.elapsed - expected) < CLOCK_DRIFT_SECONDS);
  }

  beginScan(direction) {
    this.scan = { direction: direction < 0 ? -1 : 1, startedAt: this.now() };
  }

  endScan() {
    if (!this.scan) return;
    // Keep the estimate as the position until the player's own reading arrives.
    this.state = { ...this.state, elapsed: this.elapsed() };
    this.receivedAt = this.now();
    this.scan = null;
  }

  /** The position now: while playing it advances with the clock, but never past the end. */
  elapsed() {
    const { elapsed, duration, isPlaying } = this.state;
    let moved = elapsed;
    const now = this.now();
    if (this.scan) {
      // The scan replaces playing speed from when it began; a reading taken during the scan
      // already holds the distance up to then.
      const from = Math.max(this.receivedAt, this.scan.startedAt);
      const distance = scanDistance((now - this.scan.startedAt) / 1000) - scanDistance((from - this.scan.startedAt) / 1000);
      const before = isPlaying && this.receivedAt < this.scan.startedAt ? (this.scan.startedAt - this.receivedAt) / 1000 : 0;
      moved = elapsed + before + this.scan.direction * distance;
    } else if (isPlaying) {
      moved = elapsed + (now - this.receivedAt) / 1000;
    } else {
      return elapsed;
    }
    moved = Math.max(0, moved);
    return duration > 0 ? Math.min(duration, moved) : moved;
  }

  progress() {
    const { duration } = this.state;
    return duration > 0 ? Math.min(1, this.elapsed() / duration) : 0;
  }
}
