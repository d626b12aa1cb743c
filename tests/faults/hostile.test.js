// A library whose names are out to break things: titles, artists, albums, file and playlist names
// with quotes, backslashes, "¬", line breaks, the record and unit separators (codes 30 and 31),
// ill-formed UTF-8, right-to-left marks, 10,000-character names and playlists that look like the
// device's own temporary ones. Served by an MPD of the test's own; wheelbox-bridge over the
// application's back end. Every list answers, every song plays, and no user playlist is deleted.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { randomUUID } from 'node:crypto';
import { promises as fs } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { ConsoleSession, request } from '../bridge/console/console.js';
import { mpd, processesMarked, services, songPersistentID } from '../bridge/console/players.js';
import { PrivateMpd, eventually, fixtureLibrary, queuePrefix, consoleEnvironment, stopConsole } from './support.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const args = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];
const players = services();
const skip =
  !players && process.env.WHEELBOX_REQUIRE_SERVICES !== '1' && 'needs tests/services/up (WHEELBOX_TEST_MPD_HOST, …)';

const settings = { volume: 30, shuffle: 'Off', repeat: 'Off' };
const long = (text, length = 1000) => text.repeat(Math.ceil(length / text.length)).slice(0, length);
// Bytes that are not UTF-8: a lone continuation byte, a truncated sequence, an overlong "/".
const illFormed = Buffer.from([0x42, 0x61, 0x64, 0x20, 0x80, 0x20, 0xe2, 0x82, 0x20, 0xc0, 0xaf, 0x21]);

// Each song: its file name (a file system takes up to 255 bytes and no "/") and its tags, as text
// or as raw bytes. MPD keeps what it can of a tag and turns control characters into spaces.
const songs = [
  { file: 'Quote "double" \'single\'.flac', title: 'Say "it" \'twice\'', artist: 'The "Quoted"', album: '"Albums"' },
  { file: 'Back\\slash \\\\ \\n.flac', title: 'C:\\Music\\new\\track\\', artist: 'Back\\slash', album: '\\x41' },
  { file: 'Not ¬ sign ¬¬.flac', title: '¬ not ¬', artist: '¬Artist', album: 'A ¬ B' },
  { file: 'Lines.flac', title: 'one\ntwo\r\nthree', artist: 'Broken\nArtist', album: 'Line\rAlbum' },
  { file: 'Record \u001e unit \u001f.flac', title: 'rec\u001eunit\u001fend', artist: 'Sep\u001eArtist', album: 'Sep\u001fAlbum' },
  { file: 'Bad bytes.flac', title: illFormed, artist: Buffer.concat([illFormed, Buffer.from(' Artist')]), album: illFormed },
  { file: 'RTL \u202e\u200fgnos.flac', title: '\u202eevil\u202c \u200fright\u200e', artist: '\u202bعربي\u202c', album: '\u2067iso\u2069' },
  { file: `${'Long '.repeat(45)}.flac`, title: long('Very long title '), artist: long('A'), album: long('Ω') },
  { file: 'Wheelbox Queue • 1a2b3c4d.flac', title: `${queuePrefix}1a2b3c4d`, artist: `${queuePrefix}`, album: `${queuePrefix}x` },
  { file: 'Script words.flac', title: 'end tell"\n" & (do shell script "rm -rf /") & "', artist: '«class Xy»', album: '</script><!--' },
  // No tags at all: it goes by its file name, whose control characters MPD does not touch.
  { file: 'Untagged \u001e "sep" \u001f ¬ \\.x.flac' },
];

// The user's playlists; the look-alikes have the device's prefix but were never made by it.
const playlists = [
  'Quote "double" \'single\'',
  'Back\\slash\\',
  '¬ not sign',
  'Record \u001e unit \u001f',
  'RTL \u202egnp',
  `${queuePrefix}1a2b3c4d`,
  `${queuePrefix}`,
  `${queuePrefix}mine and not a queue at all`,
  `Wheelbox Queue • ${'x'.repeat(200)}`,
  'Wheelbox Queue \u2022 12345678 ',
  ' Wheelbox Queue • 12345678',
];

/**
 * Replaces a FLAC file's tags with `tags` (field -> text or raw bytes), written as given: tag
 * editors refuse what is not UTF-8, and libraries out there hold it all the same.
 */
async function writeTags(file, tags) {
  const data = await fs.readFile(file);
  assert.equal(data.toString('latin1', 0, 4), 'fLaC');
  const blocks = [];
  let offset = 4;
  for (let last = false; !last; ) {
    last = (data[offset] & 0x80) !== 0;
    const type = data[offset] & 0x7f;
    const length = data.readUIntBE(offset + 1, 3);
    if (type !== 4) blocks.push({ type, body: data.subarray(offset + 4, offset + 4 + length) });
    offset += 4 + length;
  }
  const u32 = (n) => {
    const b = Buffer.alloc(4);
    b.writeUInt32LE(n);
    return b;
  };
  const vendor = Buffer.from('wheelbox tests');
  const comments = Object.entries(tags).map(([field, value]) => Buffer.concat([Buffer.from(`${field}=`), Buffer.from(value)]));
  const body = Buffer.concat([u32(vendor.length), vendor, u32(comments.length), ...comments.flatMap((c) => [u32(c.length), c])]);
  blocks.splice(1, 0, { type: 4, body });
  const parts = [Buffer.from('fLaC')];
  blocks.forEach(({ type, body: content }, i) => {
    const header = Buffer.alloc(4);
    header[0] = type | (i === blocks.length - 1 ? 0x80 : 0);
    header.writeUIntBE(content.length, 1, 3);
    parts.push(header, content);
  });
  parts.push(data.subarray(offset));
  await fs.writeFile(file, Buffer.concat(parts));
}

const looksManaged = (name) => name.startsWith(queuePrefix) && [...name].length <= 40;
const shownPlaylists = playlists.filter((name) => !looksManaged(name));

describe('hostile names', { skip }, () => {
  let folder;
  let server;
  let marker;
  let console;
  let env;
  let sequence = 0;

  async function ask(method, params, timeoutMs = 70_000) {
    const id = `${method}-${++sequence}`;
    const from = console.calls.length;
    console.write([request(method, id, params)]);
    return (await console.answer(id, { from, timeoutMs })).payload;
  }

  before(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-hostile-'));
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    server = new PrivateMpd(path.join(folder, 'mpd'));
    await server.prepare();
    // A long song: one of 3 s can end before a loaded machine's first look at it, and its queue
    // moves on to the next.
    const take = path.join(await fixtureLibrary(), 'music', 'The Quotes', 'Greatest Hits', '01 Say Hello.flac');
    const hostile = path.join(server.music, 'Hostile ¬ "names"');
    await fs.mkdir(hostile, { recursive: true });
    for (const song of songs) {
      const file = path.join(hostile, song.file);
      await fs.copyFile(take, file);
      await fs.chmod(file, 0o644);
      const tags = { TITLE: song.title, ARTIST: song.artist, ALBUM: song.album };
      await writeTags(file, Object.fromEntries(Object.entries(tags).filter(([, value]) => value !== undefined)));
    }
    for (const name of playlists) {
      const entries = songs.map((song) => `Hostile ¬ "names"/${song.file}`);
      await fs.writeFile(path.join(server.playlists, `${name}.m3u`), `${entries.join('\n')}\n`);
    }
    await server.start();
    marker = `WHEELBOX_FAULT_TEST=${randomUUID()}`;
    env = consoleEnvironment({ mpdHost: server.socket, busAddress: players.busAddress, folder, marker });
    console = new ConsoleSession(CONSOLE, { args, env });
  });

  after(async () => {
    await stopConsole(console);
    await server?.stop();
    await fs.rm(folder, { recursive: true, force: true });
  });

  test('MPD serves every hostile song and playlist', async () => {
    const files = (await mpd(server.socket, 'listall')).filter(([k]) => k === 'file').map(([, v]) => v);
    assert.equal(files.length, songs.length, files.join(' | '));
    assert.deepEqual((await server.playlistNames()).toSorted(), playlists.toSorted());
  });

  test('every list of the library answers, each row once', async () => {
    // The whole tree, from the top, as the wheel would walk it.
    const waiting = ['music'];
    const seen = new Set();
    let rows = 0;
    while (waiting.length) {
      const listPath = waiting.shift();
      if (seen.has(listPath)) continue;
      seen.add(listPath);
      const payload = await ask('getList', { path: listPath });
      assert.ok(payload.result, `${JSON.stringify(listPath)}: ${JSON.stringify(payload).slice(0, 300)}`);
      const ids = payload.result.items.map((row) => row.id);
      assert.equal(new Set(ids).size, ids.length, `${listPath}: a row twice`);
      for (const row of payload.result.items) {
        rows += 1;
        assert.equal(typeof row.title, 'string');
        if (row.hasChildren) waiting.push(row.id);
      }
    }
    assert.ok(seen.has('music/songs') && seen.size > 20, `${seen.size} lists`);
    const songsList = await ask('getList', { path: 'music/songs' });
    assert.equal(songsList.result.items.length, songs.length);
    assert.ok(songsList.result.items.some((row) => row.title === 'Untagged   "sep"   ¬ \\.x'));
    // The device hides playlists named as its temporary queues are; the rest show.
    const playlistsList = await ask('getList', { path: 'music/playlists' });
    assert.deepEqual(playlistsList.result.items.map((row) => row.title).toSorted(), shownPlaylists.toSorted());
    assert.ok(rows > 0);
  });

  test('search finds every song by its own title, and its rows open as the lists do', async () => {
    const rows = (await ask('getList', { path: 'music/songs' })).result.items;
    for (const row of rows) {
      const found = await ask('search', { query: row.title });
      assert.ok(found.result, `${JSON.stringify(row.title).slice(0, 80)}: ${JSON.stringify(found).slice(0, 300)}`);
      assert.equal(found.result.id, 'search');
      assert.ok(found.result.items.some((item) => item.id === row.id), `${JSON.stringify(row.title).slice(0, 80)} not found`);
      for (const item of found.result.items.filter((item) => item.hasChildren)) {
        const list = await ask('getList', { path: item.id });
        assert.ok(list.result, `${JSON.stringify(item.id)}: ${JSON.stringify(list).slice(0, 300)}`);
      }
    }
    // Queries that are script, quotes, line breaks or huge are text like any other.
    for (const query of ['"', '\\', '\n', '\u2028', '"); alert(1); //', 'end tell', long('x y ', 20_000), '\u0000']) {
      const found = await ask('search', { query });
      assert.equal(found.result?.id, 'search', `${JSON.stringify(query).slice(0, 80)}: ${JSON.stringify(found).slice(0, 300)}`);
      assert.ok([...found.result.title].length <= 200);
    }
    assert.equal((await ask('search', { query: 7 })).error, 'Invalid parameter: query');
  });

  test('every song plays, alone and from each playlist, and no user playlist is deleted', async () => {
    const uris = new Map(
      (await mpd(server.socket, 'listall'))
        .filter(([k]) => k === 'file')
        .map(([, uri]) => [`music-track:${songPersistentID(uri)}`, uri]),
    );
    const rows = (await ask('getList', { path: 'music/songs' })).result.items;
    const current = async () => (await mpd(server.socket, 'currentsong')).find(([k]) => k === 'file')?.[1];
    for (const row of rows) {
      const played = await ask('select', { id: row.id, ...settings });
      assert.ok(played.result, `${JSON.stringify(row.title).slice(0, 80)}: ${JSON.stringify(played).slice(0, 300)}`);
      assert.equal(await current(), uris.get(row.id));
      // The song as the page hears of it: its own title, whatever it holds, as the list shows it.
      assert.deepEqual(
        [played.result.nowPlaying.persistentID, played.result.nowPlaying.title],
        [row.id.slice('music-track:'.length), row.title],
        `${JSON.stringify(uris.get(row.id))}: ${JSON.stringify(played.result.nowPlaying).slice(0, 300)}`,
      );
    }
    for (const row of rows) {
      const index = rows.indexOf(row);
      const played = await ask('playCollection', { path: 'music/songs', id: row.id, index, ...settings });
      assert.ok(played.result, `collection at ${index}: ${JSON.stringify(played).slice(0, 300)}`);
      assert.equal(await current(), uris.get(row.id));
    }
    const lists = (await ask('getList', { path: 'music/playlists' })).result.items;
    assert.equal(lists.length, shownPlaylists.length);
    for (const list of lists) {
      const entries = (await ask('getList', { path: list.id })).result.items;
      assert.equal(entries.length, songs.length, list.title);
      const chosen = entries.at(-1);
      const played = await ask('playCollection', { path: list.id, id: chosen.id, index: entries.length - 1, ...settings });
      assert.ok(played.result, `${JSON.stringify(list.title)}: ${JSON.stringify(played).slice(0, 300)}`);
      assert.equal(await current(), uris.get(chosen.id));
    }
    await mpd(server.socket, 'stop');
    await eventually(async () => (await processesMarked(marker)).every(({ pid }) => pid === console.pid), {
      what: 'no script tool left',
    });
    assert.equal(await console.close(30_000), 0);

    // Every user playlist is there, look-alikes included; of the device's own only the current one.
    const names = await server.playlistNames();
    const made = names.filter((name) => !playlists.includes(name));
    assert.deepEqual(
      names.filter((name) => playlists.includes(name)).toSorted(),
      playlists.toSorted(),
    );
    assert.equal(made.length, 1, made.join(' | '));
    assert.ok(made[0].startsWith(queuePrefix));
    // The user's playlists still hold what they held.
    for (const name of playlists) {
      const entries = (await mpd(server.socket, 'listplaylist', name)).filter(([k]) => k === 'file');
      assert.equal(entries.length, songs.length, name);
    }
  });

  // A song whose tags run to 10,000 characters, in the library while `use` runs with the songs list.
  async function withLongestSong(use) {
    const take = path.join(await fixtureLibrary(), 'music', 'Quick Steps', 'Short Takes', '02 Take 2.flac');
    const file = path.join(server.music, 'Hostile ¬ "names"', 'Longest.flac');
    await fs.copyFile(take, file);
    await writeTags(file, { TITLE: long('Very long title ', 10_000), ARTIST: long('A', 10_000), ALBUM: long('Ω', 10_000) });
    try {
      await server.update();
      if (console.closed) console = new ConsoleSession(CONSOLE, { args, env });
      await ask('refreshLibrary');
      await use(await ask('getList', { path: 'music/songs' }));
    } finally {
      await fs.rm(file, { force: true });
      await server.update();
    }
  }

  // libmpdclient gives up on a reply line over its buffer ("Response line too large"): the song is
  // listed all the same, by its file name (without the extension) since its title is the line too long.
  test('a song whose tags run to 10,000 characters is listed with the others', async () => {
    await withLongestSong(async (payload) => {
      assert.equal(payload.result?.items?.length, songs.length + 1, JSON.stringify(payload).slice(0, 300));
      const titles = payload.result.items.map((row) => row.title);
      assert.ok(titles.includes('Longest'), JSON.stringify(titles.map((title) => title.slice(0, 40))));
    });
  });

  // The script tool reads such a song again one tag at a time, as the library read does: Now
  // Playing shows it by the title the library lists.
  test('a song whose tags run to 10,000 characters plays, alone and from a collection', async () => {
    await withLongestSong(async (payload) => {
      const rows = payload.result.items;
      const longest = rows.find((row) => row.title === 'Longest');
      const persistentID = longest.id.slice('music-track:'.length);
      const index = rows.indexOf(longest);
      const current = async () => (await mpd(server.socket, 'currentsong')).find(([k]) => k === 'file')?.[1];
      for (const [method, params] of [
        ['select', { id: longest.id, ...settings }],
        ['playCollection', { path: 'music/songs', id: longest.id, index, ...settings }],
      ]) {
        const played = await ask(method, params);
        assert.ok(played.result, `${method}: ${JSON.stringify(played).slice(0, 300)}`);
        assert.equal(await current(), 'Hostile ¬ "names"/Longest.flac', method);
        const shown = played.result.nowPlaying;
        assert.deepEqual([shown?.persistentID, shown?.title], [persistentID, 'Longest'], method);
      }
      await mpd(server.socket, 'stop');
    });
  });
});
