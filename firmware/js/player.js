// What is playing, as last reported, with the position moved on between reports.

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
  };
}

export function clampVolume(volume) {
  return Math.min(100, Math.max(0, finiteOr(volume, 50)));
}

/** Holds the latest reading and when it arrived, so the clock can run on between polls. */
export class PlayerModel {
  constructor(now = () => performance.now()) {
    this.now = now;
    this.state = { ...EMPTY_NOW_PLAYING };
    this.receivedAt = now();
  }

  update(raw) {
    this.state = normalizeNowPlaying(raw);
    this.receivedAt = this.now();
    return this.state;
  }

  /** The position now: while playing it advances with the clock, but never past the end. */
  elapsed() {
    const { elapsed, duration, isPlaying } = this.state;
    if (!isPlaying) return elapsed;
    const moved = elapsed + (this.now() - this.receivedAt) / 1000;
    return duration > 0 ? Math.min(duration, moved) : moved;
  }

  progress() {
    const { duration } = this.state;
    return duration > 0 ? Math.min(1, this.elapsed() / duration) : 0;
  }
}
