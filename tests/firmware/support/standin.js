// The native side as the firmware sees it, installed into the page before the firmware loads:
// window.webkit.messageHandlers.velto.postMessage records each message and answers it through
// window.veltoNative.resolve with records shaped like the native program's. The library has a few
// artists and albums, two playlists (one of songs that share a title) and a 100,000-song
// "music/songs" list.
//
// Songs of an album carry the optional "trackNumber" and "duration" (seconds), album rows the
// optional "artist"; the 100,000 songs carry neither, as a native side without them would send.
//
// With `covers`, album rows carry the optional "artwork" (a cover's address under
// velto://app/artwork/, which the page loads from the test server) and so does a song played from an
// album; `albumCount` makes "music/albums" that many albums long.
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

  let songsList = null;
  const allSongs = () => {
    if (!songsList) {
      const items = new Array(state.options.songCount);
      for (let i = 0; i < items.length; i++) {
        items[i] = song(0x100000 + i, `Song ${String(i + 1).padStart(6, '0')}`, artists[i % artists.length].name);
      }
      songsList = { id: 'music/songs', title: 'Songs', items };
    }
    return songsList;
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

  const methods = {
    ready: () => ({ bridgeVersion: 1, transport: state.transport, volume: state.volume, nowPlaying: { ...state.nowPlaying } }),
    getList: (p) => list(typeof p.path === 'string' ? p.path : 'music'),
    refreshLibrary: (p) => {
      state.options.libraryAvailable = true;
      return list(typeof p.path === 'string' ? p.path : 'music');
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
