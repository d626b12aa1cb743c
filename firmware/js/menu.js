// The firmware's own menus (the library's lists come from the native side).

export const SHUFFLE_VALUES = ['Off', 'On'];
export const REPEAT_VALUES = ['Off', 'One', 'All'];
export const TRANSPORT_VALUES = ['music', 'system'];
// "system" follows whichever player plays (the library's or Spotify); "music" plays the library's.
const TRANSPORT_LABELS = { music: 'Music', system: 'Any Player' };
// The device's body colours; a setting of the firmware alone, kept in the page's storage.
export const BODY_VALUES = ['graphite', 'silver'];
const BODY_LABELS = { graphite: 'Graphite', silver: 'Silver' };
// How long the backlight stays on without input, in seconds ("always": it never goes off); the
// firmware's own setting too.
export const BACKLIGHT_VALUES = ['10', '30', '60', 'always'];
export const DEFAULT_BACKLIGHT = '30';
const BACKLIGHT_LABELS = { 10: '10 Seconds', 30: '30 Seconds', 60: '1 Minute', always: 'Always On' };

/** The backlight's time in milliseconds for a setting; null when it stays on. */
export function backlightMs(value) {
  const seconds = Number(BACKLIGHT_VALUES.includes(value) ? value : DEFAULT_BACKLIGHT);
  return Number.isFinite(seconds) ? seconds * 1000 : null;
}

/** The firmware's own settings as kept in the page's storage; anything unknown reads as the default. */
export function storedSettings(prefs) {
  const body = prefs?.get('body');
  const backlight = prefs?.get('backlight');
  return {
    body: BODY_VALUES.includes(body) ? body : BODY_VALUES[0],
    backlight: BACKLIGHT_VALUES.includes(backlight) ? backlight : DEFAULT_BACKLIGHT,
  };
}

/** True when a reading describes something loaded in a player (not the empty state). */
export function hasLoadedTrack(nowPlaying) {
  return Boolean(nowPlaying && nowPlaying.source && nowPlaying.source !== 'none' && nowPlaying.title);
}

export function mainMenuItems(nowPlaying) {
  const items = [
    { id: 'music', title: 'Music', hasChildren: true },
    { id: 'shuffle-songs', title: 'Shuffle Songs', hasChildren: false },
    { id: 'settings', title: 'Settings', hasChildren: true },
    { id: 'about', title: 'About', hasChildren: true },
  ];
  if (hasLoadedTrack(nowPlaying)) items.push({ id: 'now-playing', title: 'Now Playing', hasChildren: true });
  return items;
}

export function settingsItems(settings) {
  return [
    { id: 'shuffle', title: 'Shuffle', value: settings.shuffle },
    { id: 'repeat', title: 'Repeat', value: settings.repeat },
    { id: 'transport', title: 'Source', value: TRANSPORT_LABELS[settings.transport] ?? settings.transport },
    { id: 'alwaysOnTop', title: 'Always on Top', value: settings.alwaysOnTop ? 'On' : 'Off' },
    { id: 'body', title: 'Body', value: BODY_LABELS[settings.body] ?? BODY_LABELS.graphite },
    { id: 'backlight', title: 'Backlight', value: BACKLIGHT_LABELS[settings.backlight] ?? BACKLIGHT_LABELS[DEFAULT_BACKLIGHT] },
    { id: 'refresh', title: 'Refresh Library', hasChildren: false },
  ];
}

/** The value after `current` in `values`, wrapping; an unknown value starts from the first. */
export function nextValue(values, current) {
  const i = values.indexOf(current);
  return values[(i + 1) % values.length];
}

/**
 * The settings change that selecting a row asks for: the new settings (shown at once) and the
 * request that makes it real (no method: the firmware keeps it itself). Null for rows that are
 * not toggles.
 */
export function settingChange(rowId, settings) {
  switch (rowId) {
    case 'shuffle': {
      const value = nextValue(SHUFFLE_VALUES, settings.shuffle);
      return { settings: { ...settings, shuffle: value }, method: 'setPlaybackSetting', params: { setting: 'shuffle', value } };
    }
    case 'repeat': {
      const value = nextValue(REPEAT_VALUES, settings.repeat);
      return { settings: { ...settings, repeat: value }, method: 'setPlaybackSetting', params: { setting: 'repeat', value } };
    }
    case 'transport': {
      const transport = nextValue(TRANSPORT_VALUES, settings.transport);
      return { settings: { ...settings, transport }, method: 'setTransport', params: { transport } };
    }
    case 'alwaysOnTop': {
      const enabled = !settings.alwaysOnTop;
      return { settings: { ...settings, alwaysOnTop: enabled }, method: 'setAlwaysOnTop', params: { enabled } };
    }
    case 'body':
      return { settings: { ...settings, body: nextValue(BODY_VALUES, settings.body) }, method: null, params: null };
    case 'backlight':
      return { settings: { ...settings, backlight: nextValue(BACKLIGHT_VALUES, settings.backlight) }, method: null, params: null };
    default:
      return null;
  }
}

const ABOUT_FIELDS = [
  ['capacity', 'Capacity'],
  ['available', 'Available'],
  ['version', 'Version'],
  ['serial', 'Serial'],
  ['relatedMac', 'Computer'],
];

/** About rows as label and value; a missing or non-text field shows as a dash. */
export function aboutItems(about) {
  return ABOUT_FIELDS.map(([key, title]) => ({
    id: `about-${key}`,
    title,
    value: typeof about?.[key] === 'string' && about[key] !== '' ? about[key] : '—',
    inert: true,
  }));
}

/** The request a library row asks for when selected, or null when it does nothing. */
export function libraryAction(list, row, index, playback) {
  if (!row || typeof row.id !== 'string') return null;
  if (row.id === 'music-unavailable') return { kind: 'refresh', method: 'refreshLibrary', params: { path: list.id } };
  if (row.hasChildren) return { kind: 'open', method: 'getList', params: { path: row.id } };
  if (row.playable && row.id.startsWith('music-track:')) {
    return {
      kind: 'play',
      method: 'playCollection',
      params: {
        path: list.id,
        id: row.id,
        index,
        volume: playback.volume,
        shuffle: playback.shuffle,
        repeat: playback.repeat,
      },
    };
  }
  return null;
}

/**
 * A row's second line: its subtitle, else the artist an album row may carry; '' for none.
 */
export function secondLine(item) {
  if (typeof item?.subtitle === 'string') return item.subtitle;
  return typeof item?.artist === 'string' ? item.artist : '';
}

/**
 * The second line every row of a list shares (an album's songs all by one artist), shown once for
 * the list instead of on each row; null when the rows differ or there are fewer than two.
 */
export function sharedSubtitle(items) {
  if (!Array.isArray(items) || items.length < 2) return null;
  const first = secondLine(items[0]);
  if (first === '') return null;
  for (let i = 1; i < items.length; i++) if (secondLine(items[i]) !== first) return null;
  return first;
}

/**
 * What tells a row from its neighbours when they bear the same title (four songs called "Intro"):
 * its second line when that is not on screen and differs from theirs, else its place among them,
 * "(2)"; '' for a row whose title is its own. Only a run of equal titles next to each other counts,
 * as a sorted list puts them. `items` is an array or anything with `length` and `at()` (rows that
 * come in windows: a row not at hand tells nothing).
 */
export function disambiguator(items, index, secondLineShown) {
  const title = items.at(index)?.title;
  if (typeof title !== 'string') return '';
  const same = (i) => i >= 0 && i < items.length && items.at(i)?.title === title;
  if (!same(index - 1) && !same(index + 1)) return '';
  let start = index;
  while (same(start - 1)) start--;
  let end = index;
  while (same(end + 1)) end++;
  const line = secondLine(items.at(index));
  let unique = line !== '';
  for (let i = start; i <= end && unique; i++) if (i !== index && secondLine(items.at(i)) === line) unique = false;
  if (unique) return secondLineShown ? '' : line;
  return `(${index - start + 1})`;
}

const HEX_ID = '[0-9A-F]{16}';
const ALBUM_LIST = new RegExp(`^music/(albums/${HEX_ID}|artists/[^/]+/${HEX_ID})$`);

/** Whether a list path shows one album's songs, in album order (where track numbers mean something). */
export function isAlbumList(path) {
  return typeof path === 'string' && ALBUM_LIST.test(path);
}

/** Whether the rows of an album list come from more than one disc, so a track number needs its disc. */
export function spansDiscs(items) {
  let first = null;
  for (const item of items ?? []) {
    if (!Number.isInteger(item?.discNumber)) continue;
    first ??= item.discNumber;
    if (item.discNumber !== first) return true;
  }
  return false;
}

export const LIBRARY_UNREADABLE = 'Wheelbox couldn’t read your music library.';
export const NO_MUSIC_HINT = 'The MPD in use has no songs. Add music to its folder, then select this to look again.';

/**
 * What the screen says under the one row of a library that cannot be shown: the native side's own
 * words when its row carries a subtitle (why it failed, or where music goes), else a sentence of
 * our own; null for any other list.
 */
export function libraryNote(items) {
  const row = Array.isArray(items) && items.length === 1 ? items[0] : null;
  if (row?.id !== 'music-unavailable') return null;
  if (typeof row.subtitle === 'string' && row.subtitle.trim() !== '') return row.subtitle.trim();
  return row.title === 'No Music Found' ? NO_MUSIC_HINT : LIBRARY_UNREADABLE;
}
