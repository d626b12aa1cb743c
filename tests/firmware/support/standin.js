// The native side as the firmware sees it, installed into the page before the firmware loads:
// window.webkit.messageHandlers.velto.postMessage records each message and answers it through
// window.veltoNative.resolve with records shaped like the native program's. The library has a few
// artists and albums, two playlists (one of songs that share a title) and a 100,000-song
// "music/songs" list.
//
// "search" finds names by the starts of their words (folded for case and accents) among the
// artists, albums, album songs, playlists and genres; "select" plays one album song.
//
// Songs of an album carry the optional "trackNumber" and "duration" (seconds), album rows the
// optional "artist"; the 100,000 songs carry neither, as a native side without them would send.
//
// With `covers`, album rows carry the optional "artwork" (a cover's address under
// velto://app/artwork/, which the page loads from the test server) and so does a song played from an
// album; `albumCount` makes "music/albums" that many albums long.
// "getList" and "refreshLibrary" with "offset" or "limit" answer a window of at most 500 rows with
// "count", "offset", "revision" and, for the lists sorted by title, "sections", as the native side
// does; the songs list's rows are made as they are asked for, so it can hold 300,000. A refresh, or
// window.__standIn.revision changed by a test, starts a new revision.
//
// Options: { songCount, libraryAvailable, noMusic (unavailable as an empty library, not a failed
// one), unavailableReason (the unavailable row's subtitle), nowPlaying, covers, albumCount,
// about (fields that replace the about record's), failures: {method: text}, delays: {method: ms},
// held: [method] (kept unanswered in window.__standIn.held for the test to answer) }.
// Tests reach the state as window.__standIn (sent messages, current now-playing, options).

function standIn(options) {
  const state = {
    sent: [],
    options: {
      songCount: 100000,
      libraryAvailable: true,
      failures: {},
      delays: {},
      held: [],
      ...options,
    },
    volume: 40,
    transport: 'system',
    alwaysOnTop: false,
    awake: true,
    nowPlaying: options.nowPlaying ?? {
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
    },
    resolvedAt: {},
    revision: 1,
    held: [],
    answer: (body) => answer(body),
    list: (path) => list(path),
    push: () => push(),
  };
  window.__standIn = state;

  const hex = (n) => n.toString(16).toUpperCase().padStart(16, '0');
  const token = (name) => btoa(unescape(encodeURIComponent(name))).replace(/\+/g, '-').replace(/\//g, '_').replace(/=+$/, '');
  const container = (id, title) => ({ id, title, kind: 'container', hasChildren: true, playable: false });
  const song = (n, title, artist, extra = {}) => ({ id: `music-track:${hex(n)}`, title, subtitle: artist, kind: 'track', hasChildren: false, playable: true, ...extra });

  const artists = [
    { name: 'Aster Vale', albums: [{ id: hex(0xa1), title: 'Northern Lines', songs: ['Glasshouse', 'Tidewater', 'Small Hours', 'Paper Kites'] }] },
    { name: 'The Lumen Trio', albums: [{ id: hex(0xa2), title: 'Copper Sky', songs: ['Overture', 'Copper Sky', 'Quiet Engine'] }, { id: hex(0xa3), title: 'Late Bloom', songs: ['Late Bloom', 'Lanterns'] }] },
    { name: 'Mira Sol', albums: [{ id: hex(0xa4), title: 'Salt & Static', songs: ['Salt', 'Static', 'Undertow', 'Harbour Lights', 'Last Ferry'] }] },
  ];
  let n = 1;
  for (const artist of artists) {
    for (const album of artist.albums) {
      album.artist = artist.name;
      album.rows = album.songs.map((title, i) => song(n++, title, artist.name, { trackNumber: i + 1, duration: 151 + ((n * 37) % 130) }));
    }
  }
  const albums = artists.flatMap((artist) => artist.albums);
  const artwork = (id, pixels) => (state.options.covers ? { artwork: `velto://app/artwork/${id}-${pixels}` } : {});
  const albumRow = (base, album, extra = {}) => ({ ...container(`${base}/${album.id}`, album.title), ...extra, ...artwork(album.id, 64) });
  let albumsList = null;
  const allAlbums = () => {
    if (!albumsList) {
      const many = [];
      for (let i = 0; i < (state.options.albumCount ?? 0); i++) {
        many.push({ id: hex(0x200000 + i), title: `Album ${String(i + 1).padStart(5, '0')}`, artist: artists[i % artists.length].name });
      }
      albumsList = { id: 'music/albums', title: 'Albums', items: [...albums, ...many].map((a) => albumRow('music/albums', a, { artist: a.artist })) };
    }
    return albumsList;
  };

  const songAt = (i) => song(0x100000 + i, `Song ${String(i + 1).padStart(6, '0')}`, artists[i % artists.length].name);
  let songsList = null;
  const allSongs = () => {
    if (!songsList) {
      const items = new Array(state.options.songCount);
      for (let i = 0; i < items.length; i++) items[i] = songAt(i);
      songsList = { id: 'music/songs', title: 'Songs', items };
    }
    return songsList;
  };

  // The initial a title files under, as the native side files it (close enough for these titles).
  const initialOf = (title) => (/^\p{L}/u.test(title) ? title.normalize('NFD')[0].toUpperCase() : '#');
  const sectionsOf = (titles, first = 0) => {
    const sections = [];
    titles.forEach((title, i) => {
      const initial = initialOf(title);
      if (sections.at(-1)?.initial !== initial) sections.push({ initial, index: first + i });
    });
    return sections;
  };
  const SORTED = ['music/songs', 'music/artists', 'music/albums', 'music/genres', 'music/playlists'];

  function window_(path, params) {
    for (const key of ['offset', 'limit']) {
      if (key in params && !Number.isInteger(params[key])) throw new Error(`Invalid parameter: ${key}`);
    }
    const limit = Math.min(500, Math.max(0, params.limit ?? 500));
    let id = path;
    let title;
    let count;
    let rowAt;
    let sections;
    if (state.options.libraryAvailable && path === 'music/songs') {
      title = 'Songs';
      count = state.options.songCount;
      rowAt = songAt;
      sections = count ? [{ initial: 'S', index: 0 }] : [];
    } else {
      const whole = list(path);
      ({ id, title } = whole);
      count = whole.items.length;
      rowAt = (i) => whole.items[i];
      if (state.options.libraryAvailable && SORTED.includes(path)) {
        const all = path === 'music/artists' ? 1 : 0;
        sections = sectionsOf(whole.items.slice(all).map((row) => row.title), all);
      }
    }
    const offset = Math.min(count, Math.max(0, params.offset ?? 0));
    const items = [];
    for (let i = offset; i < Math.min(count, offset + limit); i++) items.push(rowAt(i));
    return { id, title, items, count, offset, ...(sections ? { sections } : {}), revision: state.revision };
  }
  const listAnswer = (p) => {
    const path = typeof p.path === 'string' ? p.path : 'music';
    return 'offset' in p || 'limit' in p ? window_(path, p) : list(path);
  };

  function unavailable(path) {
    const title = path.includes('playlist') ? 'Playlists' : path.includes('artists') ? 'Artists' : path.includes('songs') ? 'Songs' : path.includes('albums') ? 'Albums' : path.includes('genres') ? 'Genres' : 'Music';
    const row = { id: 'music-unavailable', title: state.options.noMusic ? 'No Music Found' : 'Retry Music Library', kind: 'action', hasChildren: false, playable: false };
    if (state.options.unavailableReason) row.subtitle = state.options.unavailableReason;
    return { id: path, title, items: [row] };
  }

  function list(path) {
    if (!state.options.libraryAvailable) return unavailable(path);
    if (path === 'music') {
      return { id: path, title: 'Music', items: [container('music/playlists', 'Playlists'), container('music/artists', 'Artists'), container('music/albums', 'Albums'), container('music/songs', 'Songs'), container('music/genres', 'Genres')] };
    }
    if (path === 'music/songs') return allSongs();
    if (path === 'music/artists') return { id: path, title: 'Artists', items: [container('music/artists/all', 'All'), ...artists.map((a) => container(`music/artists/${token(a.name)}`, a.name))] };
    if (path === 'music/albums') return allAlbums();
    if (path === 'music/genres') return { id: path, title: 'Genres', items: [container(`music/genres/${token('Ambient')}`, 'Ambient')] };
    if (path === 'music/playlists') return { id: path, title: 'Playlists', items: [container(`music/playlist/${hex(0xc0de)}`, 'Covers'), container(`music/playlist/${hex(0xbeef)}`, 'Road Trip')] };
    if (path === `music/playlist/${hex(0xbeef)}`) return { id: path, title: 'Road Trip', items: [albums[0].rows[1], albums[3].rows[0], albums[1].rows[2]] };
    // Songs of one title by several artists, one of them twice: rows that would read the same.
    if (path === `music/playlist/${hex(0xc0de)}`) {
      const covers = [['Harbour Lights', 'Aster Vale'], ['Harbour Lights', 'Mira Sol'], ['Harbour Lights', 'The Lumen Trio'], ['Harbour Lights', 'The Lumen Trio'], ['Lanterns', 'The Lumen Trio']];
      return { id: path, title: 'Covers', items: covers.map(([title, artist], i) => song(0xc000 + i, title, artist)) };
    }
    if (path === `music/genres/${token('Ambient')}`) return { id: path, title: 'Ambient', items: albums[1].rows };
    const album = albums.find((a) => path === `music/albums/${a.id}`);
    if (album) return { id: path, title: album.title, items: album.rows };
    for (const artist of artists) {
      const base = `music/artists/${token(artist.name)}`;
      if (path === base) return { id: path, title: artist.name, items: [container(`${base}/all`, 'All'), ...artist.albums.map((a) => albumRow(base, a))] };
      if (path === `${base}/all`) return { id: path, title: artist.name, items: artist.albums.flatMap((a) => a.rows) };
      const own = artist.albums.find((a) => path === `${base}/${a.id}`);
      if (own) return { id: path, title: own.title, items: own.rows };
    }
    throw new Error(`Unknown library path: ${path}`);
  }

  const push = () => window.veltoNative?.nowPlaying(JSON.parse(JSON.stringify(state.nowPlaying)));
  const status = (withVolume) => {
    push();
    const result = { transport: state.transport, nowPlaying: { ...state.nowPlaying } };
    if (withVolume) result.volume = state.volume;
    return result;
  };

  function play(params) {
    const rows = list(params.path).items;
    const index = Number.isInteger(params.index) && rows[params.index]?.id === params.id ? params.index : rows.findIndex((r) => r.id === params.id);
    if (index < 0) throw new Error(`Invalid item: ${params.id}`);
    const row = rows[index];
    state.nowPlaying = {
      source: 'music',
      persistentID: row.id.slice('music-track:'.length),
      title: row.title,
      artist: row.subtitle ?? '',
      album: 'Northern Lines',
      elapsed: 0,
      duration: 200,
      isPlaying: true,
      queuePosition: Math.min(index, 100) + 1,
      queueCount: Math.min(rows.length, 200),
      ...artwork(albums[0].id, 168),
    };
    return status(false);
  }

  // The native search in small: words folded for case and accents, each query word the start of
  // a word of the name; artists, albums, songs, playlists, genres; at most 50 of each.
  const fold = (text) => text.normalize('NFKD').replace(/\p{Mn}+/gu, '').toLowerCase().split(/[^\p{L}\p{N}]+/u).filter(Boolean);
  const matches = (name, words) => {
    const own = fold(name);
    return words.every((word) => own.some((w) => w.startsWith(word)));
  };
  function search(params) {
    const query = typeof params.query === 'string' ? [...params.query].slice(0, 200).join('') : null;
    if (query === null) throw new Error('Invalid parameter: query');
    const words = fold(query);
    if (query.trim() === '') return { id: 'search', title: query, items: [] };
    if (!state.options.libraryAvailable) return { ...unavailable('search'), title: query };
    const found = (rows) => (words.length ? rows.filter((row) => matches(row.title, words)).slice(0, 50) : []);
    const byTitle = (a, b) => a.title.localeCompare(b.title);
    return {
      id: 'search',
      title: query,
      items: [
        ...found(list('music/artists').items.slice(1)),
        ...found(list('music/albums').items.map(({ artist, ...row }) => row)),
        ...found(albums.flatMap((a) => a.rows).sort(byTitle)),
        ...found(list('music/playlists').items),
        ...found(list('music/genres').items),
      ],
    };
  }

  function selectOne(params) {
    const row = albums.flatMap((a) => a.rows).find((r) => r.id === params.id);
    if (!row) throw new Error(`Invalid item: ${params.id}`);
    state.nowPlaying = { source: 'music', persistentID: row.id.slice('music-track:'.length), title: row.title, artist: row.subtitle ?? '', album: null, elapsed: 0, duration: 200, isPlaying: true, queuePosition: null, queueCount: null };
    return status(false);
  }

  const methods = {
    search,
    select: selectOne,
    ready: () => ({ bridgeVersion: 1, transport: state.transport, volume: state.volume, nowPlaying: { ...state.nowPlaying } }),
    getList: listAnswer,
    refreshLibrary: (p) => {
      state.options.libraryAvailable = true;
      state.revision++;
      return listAnswer(p);
    },
    playCollection: play,
    playPause: () => {
      state.nowPlaying = { ...state.nowPlaying, isPlaying: !state.nowPlaying.isPlaying };
      return status(false);
    },
    pause: () => {
      state.nowPlaying = { ...state.nowPlaying, isPlaying: false };
      return status(false);
    },
    skip: () => status(false),
    seek: (p) => {
      state.nowPlaying = { ...state.nowPlaying, elapsed: p.seconds };
      return status(false);
    },
    beginSeek: () => undefined,
    endSeek: () => status(false),
    setVolume: (p) => {
      state.volume = p.volume;
      return undefined;
    },
    setPlaybackSetting: () => undefined,
    getNowPlaying: () => ({ ...state.nowPlaying }),
    setTransport: (p) => {
      state.transport = p.transport;
      return status(true);
    },
    getSettings: () => ({ transport: state.transport, volume: state.volume, alwaysOnTop: state.alwaysOnTop }),
    setAlwaysOnTop: (p) => {
      state.alwaysOnTop = p.enabled === true;
      return { alwaysOnTop: state.alwaysOnTop };
    },
    setFirmwareAwake: (p) => {
      state.awake = p.awake !== false;
      return { awake: state.awake };
    },
    getAbout: () => ({ capacity: '512.11 GB', available: '203.4 GB', version: '0.1.0', serial: 'VTK7M2QX9PA', relatedMac: 'studio-desk', ...state.options.about }),
  };

  function answer(body) {
    const { method, id, params = {} } = body;
    const failure = state.options.failures[method];
    let payload;
    if (failure) payload = { error: failure };
    else if (!methods[method]) payload = { error: `Unknown native method: ${method}` };
    else {
      try {
        const result = methods[method](params);
        payload = result === undefined ? {} : { result };
      } catch (error) {
        payload = { error: error.message };
      }
    }
    state.resolvedAt[id] = performance.now();
    window.veltoNative.resolve(id, payload);
  }

  window.webkit = {
    messageHandlers: {
      velto: {
        postMessage(body) {
          const copy = JSON.parse(JSON.stringify(body));
          state.sent.push(copy);
          if (copy.method === 'haptic') return;
          if (state.options.held.includes(copy.method)) {
            state.held.push(copy);
            return;
          }
          setTimeout(() => answer(copy), state.options.delays[copy.method] ?? 0);
        },
      },
    },
  };
}

export async function installStandIn(page, options = {}) {
  await page.addInitScript(standIn, options);
}
