// Text formatting for the screens.

/** Seconds as "m:ss", or "h:mm:ss" from an hour on; anything not a finite positive number is 0. */
export function formatTime(seconds) {
  const total = Number.isFinite(seconds) && seconds > 0 ? Math.floor(seconds) : 0;
  const hours = Math.floor(total / 3600);
  const minutes = Math.floor((total % 3600) / 60);
  const secs = String(total % 60).padStart(2, '0');
  return hours > 0 ? `${hours}:${String(minutes).padStart(2, '0')}:${secs}` : `${minutes}:${secs}`;
}

/** Time left as "-m:ss". Rounds the elapsed part down, so elapsed + remaining adds up on screen. */
export function formatRemaining(elapsed, duration) {
  const d = Number.isFinite(duration) && duration > 0 ? Math.floor(duration) : 0;
  const e = Number.isFinite(elapsed) && elapsed > 0 ? Math.floor(elapsed) : 0;
  return `-${formatTime(Math.max(0, d - e))}`;
}

/** "3 of 12" for a 1-based queue position; empty when the player keeps no queue. */
export function formatQueuePosition(position, count) {
  if (!Number.isInteger(position) || !Number.isInteger(count) || count <= 0 || position <= 0) {
    return '';
  }
  return `${position} of ${count}`;
}

/** Battery level as a whole percentage 0…100. */
export function batteryPercent(level) {
  if (!Number.isFinite(level)) return 0;
  return Math.round(Math.min(1, Math.max(0, level)) * 100);
}

// Letters the library's collation files under another letter though they do not decompose into
// it ("Ø" is an "O", "Æ" sorts as "AE"), and marked letters it counts as letters of their own.
const FILED_UNDER = { Æ: 'A', Ð: 'D', Đ: 'D', Ħ: 'H', Ĳ: 'I', Ŀ: 'L', Ł: 'L', Ø: 'O', Œ: 'O', Ǆ: 'D', Ǉ: 'L', Ǌ: 'N', Ǳ: 'D' };
const OWN_LETTERS = new Set(['Й']);

/**
 * The letter a title files under, shown large while a long list spins, as the native side files
 * the rows of a sorted list in the root locale: the letter its first character sorts as,
 * upper-cased ("É" under "E", "Ø" under "O", a Hangul syllable under its leading consonant); "#"
 * when it begins with anything but a letter (a digit, punctuation, a space), all of which the
 * library sorts before the letters; empty for no title.
 */
export function initialOf(title) {
  if (typeof title !== 'string' || title === '') return '';
  const first = String.fromCodePoint(title.codePointAt(0));
  if (!/^\p{L}$/u.test(first)) return '#';
  const upper = String.fromCodePoint(first.toUpperCase().codePointAt(0));
  if (FILED_UNDER[upper]) return FILED_UNDER[upper];
  if (OWN_LETTERS.has(upper)) return upper;
  return String.fromCodePoint(upper.normalize('NFD').codePointAt(0));
}

/**
 * A song's place on its album: "7", or "2-07" when the album spans discs; empty without a track
 * number (a positive whole number).
 */
export function formatTrackNumber(track, disc, withDisc = false) {
  if (!Number.isInteger(track) || track <= 0) return '';
  if (!withDisc || !Number.isInteger(disc) || disc <= 0) return String(track);
  return `${disc}-${String(track).padStart(2, '0')}`;
}
