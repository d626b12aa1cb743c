// MPD killed (SIGKILL) while the device works with it, and started again: during a queue start,
// during the polls, during a scan, and its music folder and database changing during a library
// read. wheelbox-bridge runs over the application's back end and an MPD of the test's own. Each
// request is answered, with the players' own error texts while MPD is gone; the device recovers
// with MPD, and nothing is left behind: no process, zombie, temporary playlist or temporary file.

import { afterEach, before, beforeEach, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { randomUUID } from 'node:crypto';
import { promises as fs, readFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { ConsoleSession, answers, evaluate, request, runConsole } from '../bridge/console/console.js';
import { childrenOf, mpd, processesMarked, services } from '../bridge/console/players.js';
import { PrivateMpd, eventually, fixtureLibrary, queuePrefix, temporaryFiles, zombiesUnder, consoleEnvironment, stopConsole } from './support.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const args = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];
const players = services();
const skip =
  !players && process.env.WHEELBOX_REQUIRE_SERVICES !== '1' && 'needs tests/services/up (WHEELBOX_TEST_MPD_HOST, …)';

const settings = { volume: 30, shuffle: 'Off', repeat: 'Off' };
// The player's own error texts, as the music transport passes them on: "Music is not running.",
// "Music got an error: …", "Music can’t play this song right now." and the like.
const isPlayerError = (text) => typeof text === 'string' && /^Music .+[.…]$/su.test(text);

describe('MPD killed and started again', { skip }, () => {
  let library;
  let folder;
  let marker;
  let server;
  let console;
  let front;
  let watcher;

  /** Kills MPD as the command that `matches` reaches it, the `nth` time. */
  function killAt(matches, nth = 1) {
    let seen = 0;
    return new Promise((resolve) => {
      watcher = (line) => {
        if (matches(line) && ++seen === nth) {
          watcher = () => {};
          server.process.kill('SIGKILL');
          resolve(line);
        }
      };
    });
  }

  before(async () => {
    library = await fixtureLibrary();
  });

  beforeEach(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-mpd-faults-'));
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    marker = `WHEELBOX_FAULT_TEST=${randomUUID()}`;
    server = new PrivateMpd(path.join(folder, 'mpd'));
    await server.prepare();
    for (const entry of await fs.readdir(path.join(library, 'music'))) {
      await fs.symlink(path.join(library, 'music', entry), path.join(server.music, entry));
    }
    for (const entry of await fs.readdir(path.join(library, 'playlists'))) {
      await fs.copyFile(path.join(library, 'playlists', entry), path.join(server.playlists, entry));
    }
    await server.start();
    // The console reaches MPD through a socket in front of it, which tells the test each command.
    watcher = () => {};
    front = await server.listenInFront((line) => watcher(line));
  });

  afterEach(async () => {
    await stopConsole(console);
    for (const { pid } of await processesMarked(marker)) process.kill(pid, 'SIGKILL');
    await server.closeFront();
    await server.stop();
    await fs.rm(folder, { recursive: true, force: true });
  });

  function environment() {
    return consoleEnvironment({ mpdHost: front, busAddress: players.busAddress, folder, marker });
  }

  const defaultsFolder = () => path.join(folder, 'config', 'wheelbox');
  const savedDefaults = () => JSON.parse(readFileSync(path.join(defaultsFolder(), 'defaults.json'), 'utf8'));
  const temporaryPlaylists = async () => (await server.playlistNames()).filter((name) => name.startsWith(queuePrefix));

  async function openConsole() {
    console = new ConsoleSession(CONSOLE, { args, env: environment() });
    console.write([request('ready', 'ready'), request('getList', 'songs', { path: 'music/songs' })]);
    await console.answer('ready');
    const { payload } = await console.answer('songs');
    assert.ok(payload.result, JSON.stringify(payload));
    // Songs whose files are there, in the songs list's order.
    return payload.result.items;
  }

  let sequence = 0;
  /** Sends one request and waits for its answer; its payload. */
  async function ask(method, params, timeoutMs = 70_000) {
    const id = `${method}-${++sequence}`;
    const from = console.calls.length;
    console.write([request(method, id, params)]);
    return (await console.answer(id, { from, timeoutMs })).payload;
  }

  const playCollection = (songs, index) =>
    ask('playCollection', { path: 'music/songs', id: songs[index].id, index, ...settings });

  /** MPD is back: a collection plays, the polls follow it, and the transport's state is clean. */
  async function recovers(songs) {
    await server.start();
    const index = 3;
    const played = await playCollection(songs, index);
    assert.ok(played.result, `the first start after MPD came back: ${JSON.stringify(played)}`);
    const trackID = songs[index].id.slice('music-track:'.length);
    await console.waitFor(
      (c) => c.call === 'nowPlaying' && c.payload.persistentID === trackID && c.payload.isPlaying,
      { from: console.calls.length - 2, timeoutMs: 10_000, what: 'a push of the song playing again' },
    );
  }

  /** Nothing left: the console's children, zombies, script tools, temporary playlists and files. */
  async function leavesNothing() {
    await eventually(
      async () => (await processesMarked(marker)).every(({ pid }) => pid === console.pid),
      { timeoutMs: 10_000, what: 'no script tool or scanner left' },
    );
    assert.deepEqual(await zombiesUnder(console.pid), []);
    assert.equal(await console.close(30_000), 0);
    assert.deepEqual(await childrenOf(console.pid), []);
    assert.deepEqual(await processesMarked(marker), []);
    // Only the playlist that plays stays, and it is the one the defaults record.
    const defaults = savedDefaults();
    assert.equal(defaults.veltoPendingQueueName, undefined);
    assert.deepEqual(await temporaryPlaylists(), [defaults.veltoManagedQueueName]);
    assert.deepEqual(await temporaryFiles(defaultsFolder()), []);
  }

  test('during a queue start: the start fails with the player’s error, and the next start removes its playlist', async () => {
    const songs = await openConsole();
    const id = `playCollection-${++sequence}`;
    const from = console.calls.length;
    // Killed as the songs are copied into the temporary playlist it has just made.
    const killed = killAt((line) => line.startsWith(`playlistadd "${queuePrefix}`), 2);
    console.write([request('playCollection', id, { path: 'music/songs', id: songs[1].id, index: 1, ...settings })]);
    await killed;
    await server.exited;
    const { payload } = await console.answer(id, { from, timeoutMs: 70_000 });
    assert.ok(isPlayerError(payload.error), JSON.stringify(payload));
    // The left-behind playlist is on disk, and recorded as pending.
    const left = (await fs.readdir(server.playlists)).filter((name) => name.startsWith(queuePrefix));
    assert.equal(left.length, 1);
    // Settings are written a moment after they change.
    const pending = () => {
      try {
        return savedDefaults().veltoPendingQueueName;
      } catch {
        return undefined; // not written yet
      }
    };
    await eventually(() => `${pending()}.m3u` === left[0], { what: 'the left-behind playlist recorded as pending' });

    await recovers(songs);
    assert.ok(!(await temporaryPlaylists()).includes(left[0].slice(0, -'.m3u'.length)), 'the left-behind playlist is gone');
    await leavesNothing();
  });

  test('during the polls: every request is answered while MPD is gone, and the polls recover', async () => {
    const songs = await openConsole();
    assert.ok((await playCollection(songs, 2)).result);
    // Killed as a poll reads the player's status.
    await killAt((line) => line === 'status');
    await server.exited;
    // Several polls run against the missing MPD meanwhile.
    await sleep(2500);
    const started = performance.now();
    const answered = {};
    for (const [method, params] of [
      ['getSettings', undefined],
      ['playPause', undefined],
      ['setVolume', { volume: 40 }],
      ['select', { id: songs[4].id, ...settings }],
      ['getList', { path: 'music/albums' }],
    ]) {
      const payload = await ask(method, params, 40_000);
      answered[method] = payload;
      if (['getSettings', 'getList'].includes(method)) {
        // The settings fall back to what is known; the library answers from what it read.
        assert.ok(payload.result, `${method}: ${JSON.stringify(payload)}`);
      } else {
        assert.ok(isPlayerError(payload.error), `${method} with MPD gone: ${JSON.stringify(payload)}`);
      }
    }
    const seconds = (performance.now() - started) / 1000;
    assert.ok(seconds < 30, `five requests without MPD took ${seconds.toFixed(1)} s`);
    await recovers(songs);
    await leavesNothing();
  });

  test('during a scan: the scanner ends with MPD, and the seek is answered', async () => {
    const songs = await openConsole();
    // A long song, so that the scan has room.
    const index = songs.findIndex((row) => !/Take/.test(row.title));
    assert.ok((await playCollection(songs, index)).result);
    assert.deepEqual(await ask('beginSeek', { direction: 1 }), {});
    const scanner = await eventually(
      async () => (await processesMarked(marker)).find(({ command }) => command.includes('--scan')),
      { what: 'the scanner running' },
    );
    await server.kill();
    // A scanner that loses MPD ends by itself.
    await eventually(async () => !(await processesMarked(marker)).some(({ pid }) => pid === scanner.pid), {
      what: 'the scanner ending without MPD',
    });
    const ended = await ask('endSeek', undefined, 30_000);
    assert.ok(ended.result || isPlayerError(ended.error), JSON.stringify(ended));
    await recovers(songs);
    await leavesNothing();
  });

  test('the music folder and the database changing during library reads: each read answers one whole library', async () => {
    const songs = await openConsole();
    const before = songs.length;
    // A folder of copies that comes and goes while lists are read.
    const extra = path.join(server.music, 'Extra');
    const source = path.join(library, 'music', 'Quick Steps', 'Short Takes');
    const takes = (await fs.readdir(source)).filter((name) => name.endsWith('.flac'));
    const reads = [];
    for (let round = 0; round < 5; round += 1) {
      if (round % 2 === 0) {
        await fs.mkdir(extra, { recursive: true });
        for (const name of takes) await fs.copyFile(path.join(source, name), path.join(extra, `${round} ${name}`));
      } else {
        await fs.rm(extra, { recursive: true, force: true });
      }
      await mpd(server.socket, 'update');
      // Reads while MPD updates its database, and one after.
      for (let i = 0; i < 4; i += 1) {
        reads.push(ask('refreshLibrary', undefined, 40_000).then(() => ask('getList', { path: 'music/songs' }, 40_000)));
        await sleep(20);
      }
      await server.updated();
    }
    for (const payload of await Promise.all(reads)) {
      assert.ok(payload.result, JSON.stringify(payload).slice(0, 300));
      const count = payload.result.items.length;
      // MPD shows an update as it goes: anything from the library before it to the one after.
      assert.ok(count >= before && count <= before + takes.length, `a list of ${count} songs`);
      assert.equal(new Set(payload.result.items.map((row) => row.id)).size, count, 'each song once');
    }
    // Once MPD has settled, a read shows the library as it is.
    await ask('refreshLibrary', undefined, 40_000);
    assert.equal((await ask('getList', { path: 'music/songs' }, 40_000)).result.items.length, before + takes.length);
    // The database is also replaced under MPD's feet: MPD killed and started over a new one.
    await server.kill();
    await fs.rm(server.database);
    await fs.rm(extra, { recursive: true, force: true });
    await server.start();
    await ask('refreshLibrary', undefined, 40_000);
    const after = await ask('getList', { path: 'music/songs' }, 40_000);
    assert.equal(after.result.items.length, before);
    await eventually(
      async () => (await processesMarked(marker)).every(({ pid }) => pid === console.pid),
      { what: 'no script tool left' },
    );
    assert.equal(await console.close(30_000), 0);
    assert.deepEqual(await processesMarked(marker), []);
  });
});

describe('an MPD that hangs up mid-command', () => {
  let folder;
  let server;

  // Greets, then stops reading: every command a client sends meets a broken pipe, which would end
  // a program that does not ignore SIGPIPE (libmpdclient sends without MSG_NOSIGNAL).
  const hangingUp = `
import socket, sys
listener = socket.socket(socket.AF_UNIX)
listener.bind(sys.argv[1])
listener.listen(64)
print("ready", flush=True)
kept = []
while True:
    client, _ = listener.accept()
    client.shutdown(socket.SHUT_RD)
    client.sendall(b"OK MPD 0.23.5\\n")
    kept.append(client)
`;

  beforeEach(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-hangup-'));
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    const socket = path.join(folder, 'mpd.socket');
    server = spawn('python3', ['-c', hangingUp, socket], { stdio: ['ignore', 'pipe', 'inherit'] });
    await new Promise((resolve, reject) => {
      server.stdout.once('data', resolve);
      server.once('exit', (status) => reject(new Error(`the fake MPD ended (${status})`)));
    });
  });

  afterEach(async () => {
    server.kill('SIGKILL');
    await fs.rm(folder, { recursive: true, force: true });
  });

  test('wheelbox-bridge answers every request and ends normally', async () => {
    const env = consoleEnvironment({
      mpdHost: path.join(folder, 'mpd.socket'),
      busAddress: 'disabled:',
      folder,
      marker: `WHEELBOX_FAULT_TEST=${randomUUID()}`,
    });
    const { status, lines } = await runConsole(
      CONSOLE,
      [
        // The library first: before anything has loaded GIO, whose sockets would ignore SIGPIPE for
        // the whole program by the way.
        request('getList', 'songs', { path: 'music/songs' }),
        request('playPause', 'toggle'),
        request('ready', 'ready'),
        JSON.stringify({ $wait: 1.5 }),
        request('refreshLibrary', 'refresh'),
      ],
      { args, env, timeoutMs: 60_000 },
    );
    assert.equal(status, 0, 'wheelbox-bridge ended by a signal');
    const answered = Object.fromEntries(answers(evaluate(lines)).map(({ id, payload }) => [id, payload]));
    assert.deepEqual(Object.keys(answered).sort(), ['ready', 'refresh', 'songs', 'toggle']);
    // The library says why it has no songs; the player's error is its own, not a dead tool's.
    assert.equal(answered.songs.result.items[0].title, 'Retry Music Library');
    assert.ok(isPlayerError(answered.toggle.error), JSON.stringify(answered.toggle));
  });
});
