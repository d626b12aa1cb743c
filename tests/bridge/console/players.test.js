// wheelbox-bridge as built, over the application's own back end, against the players of
// tests/services/up: the private MPD stands in for the music app, the stub MPRIS player for
// Spotify, both reached through wheelbox-osascript. Each test gets its own defaults folder and
// runtime folder, and puts MPD and the stub back as they were.

import { after, afterEach, before, beforeEach, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { randomUUID } from 'node:crypto';
import { promises as fs, readFileSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { ConsoleSession, answers, evaluate, request, runConsole } from './console.js';
import {
  childrenOf,
  mpd,
  mpdState,
  processesMarked,
  restoreMpd,
  services,
  songPersistentID,
  stubPlayer,
} from './players.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const args = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];
const players = services();
const skip =
  !players && process.env.WHEELBOX_REQUIRE_SERVICES !== '1' && 'needs tests/services/up (WHEELBOX_TEST_MPD_HOST, …)';

const queuePrefix = 'Wheelbox Queue • ';
const stubURL = 'https://open.spotify.com/track/4uLU6hMCjMI75M1A2tKUQC';
const expired = (method) => `Expired native request: ${method}`;
const superseded = (method) => `Superseded native request: ${method}`;
// What a playback start answers when a newer one killed its script while it ran.
const cancelledScript = 'The macOS automation was cancelled.';
// A script killed by its cancellation while it was still being sent to the tool.
const cutOffScript = 'Couldn’t send macOS automation.';

describe('wheelbox-bridge on the real back end', { skip }, () => {
  let folder;
  let marker;
  let savedMpd;
  let sessions;

  before(() => {
    assert.ok(players, 'tests/services/up has not run');
  });

  beforeEach(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-console-'));
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    marker = `WHEELBOX_CONSOLE_TEST=${randomUUID()}`;
    sessions = [];
    savedMpd = await mpdState(players.mpdHost);
    await mpd(players.mpdHost, 'stop');
    await stubPlayer(players, 'Reset');
  });

  afterEach(async () => {
    // A test that failed half-way leaves its console running.
    for (const console of sessions) if (!console.closed) console.child.kill('SIGKILL');
    await Promise.all(sessions.map((console) => console.exited));
    await restoreMpd(players.mpdHost, savedMpd);
    await stubPlayer(players, 'Reset');
    await fs.rm(folder, { recursive: true, force: true });
  });

  after(async () => {
    if (players) await stubPlayer(players, 'Reset');
  });

  /** The console's environment: the test's players, a private defaults folder, the marker. */
  function environment() {
    const env = {
      ...process.env,
      MPD_HOST: players.mpdHost,
      DBUS_SESSION_BUS_ADDRESS: players.busAddress,
      WHEELBOX_SPOTIFY_BUS_NAME: players.playerName,
      XDG_CONFIG_HOME: path.join(folder, 'config'),
      XDG_RUNTIME_DIR: path.join(folder, 'run'),
    };
    delete env.MPD_PORT;
    const [name, value] = marker.split('=');
    env[name] = value;
    return env;
  }

  const session = () => {
    const console = new ConsoleSession(CONSOLE, { args, env: environment() });
    sessions.push(console);
    return console;
  };
  const savedDefaults = () => JSON.parse(readFileSync(path.join(folder, 'config', 'wheelbox', 'defaults.json'), 'utf8'));

  /** The playable songs of the fixture, as the songs list should show them: id -> title. An untitled
   * song goes by its file name without the extension. */
  function librarySongs() {
    const { tracks } = JSON.parse(readFileSync(players.manifest, 'utf8'));
    const fileTitle = (uri) => path.basename(uri).replace(/\.[^.]*$/, '');
    return new Map(
      tracks.map((track) => [
        `music-track:${songPersistentID(track.uri)}`,
        { title: track.title?.trim() || fileTitle(track.uri), uri: track.uri },
      ]),
    );
  }

  async function songRows(console) {
    console.write([request('getList', 'songs', { path: 'music/songs' })]);
    const { payload } = await console.answer('songs');
    assert.ok(payload.result, JSON.stringify(payload));
    return payload.result.items;
  }

  const playing = async () => {
    const state = await mpdState(players.mpdHost);
    return { state: state.state, id: state.current && `music-track:${songPersistentID(state.current)}` };
  };

  test('"ready" answers bridge version 1; the polls push nothing until a player changes', async () => {
    const console = session();
    console.write([request('ready', 'ready')]);
    const ready = await console.answer('ready');
    assert.equal(ready.payload.result.bridgeVersion, 1);
    assert.equal(ready.payload.result.transport, 'system');
    assert.equal(typeof ready.payload.result.volume, 'number');
    assert.equal(ready.payload.result.nowPlaying.isPlaying, false);

    // Several polls run in this time; neither player changed, so none pushes.
    await sleep(3500);
    assert.deepEqual(
      console.calls.filter((c) => c.call === 'nowPlaying'),
      [],
    );

    // Spotify starts playing: the poll follows it, with the new player's volume.
    await stubPlayer(
      players,
      'Configure',
      `{'PlaybackStatus': <'Playing'>, 'Metadata': <{'mpris:trackid': <objectpath '/com/spotify/track/4uLU6hMCjMI75M1A2tKUQC'>, 'mpris:length': <int64 200000000>, 'xesam:url': <'${stubURL}'>, 'xesam:title': <'Stub Song'>}>}`,
    );
    const push = await console.waitFor((c) => c.call === 'nowPlaying' && c.payload.persistentID === stubURL, {
      timeoutMs: 30_000,
      what: 'the push of the Spotify song',
    });
    assert.equal(push.payload.title, 'Stub Song');
    assert.equal(push.payload.isPlaying, true);
    assert.equal(typeof push.payload.volume, 'number');
    assert.equal(await console.close(), 0);
  });

  test('"getList" of "music/songs" answers the songs of the library', async () => {
    const console = session();
    const rows = await songRows(console);
    const expected = librarySongs();
    assert.deepEqual(
      new Map(rows.map((row) => [row.id, row.title])),
      new Map([...expected].map(([id, song]) => [id, song.title])),
    );
    assert.equal(rows.length, expected.size, 'each song once');
    for (const row of rows) assert.equal(row.kind, 'track');
    assert.equal(await console.close(), 0);
  });

  test('"playCollection" plays the chosen song in MPD, and the page hears of it within two seconds', async () => {
    const console = session();
    console.write([request('ready', 'ready')]);
    await console.answer('ready');
    const rows = await songRows(console);
    const gone = `music-track:${songPersistentID(players.goneURI)}`;
    const index = rows.findIndex((row, i) => i >= 2 && row.id !== gone);
    const chosen = rows[index];

    const from = console.calls.length;
    const sent = performance.now();
    console.write([
      request('playCollection', 'play', {
        path: 'music/songs',
        id: chosen.id,
        index,
        volume: 40,
        shuffle: 'Off',
        repeat: 'Off',
      }),
    ]);
    const trackID = chosen.id.slice('music-track:'.length);
    const push = await console.waitFor((c) => c.call === 'nowPlaying' && c.payload.persistentID === trackID, {
      from,
      what: 'the push of the chosen song',
    });
    assert.ok(push.at - sent <= 2000, `pushed ${Math.round(push.at - sent)} ms after the request`);
    assert.equal(push.payload.title, chosen.title);
    assert.equal(push.payload.isPlaying, true);
    assert.equal(push.payload.queuePosition, index + 1);
    assert.equal(push.payload.queueCount, rows.length);

    const answer = await console.answer('play', { from });
    assert.ok(answer.index > push.index, 'the push comes before the answer');
    assert.deepEqual(answer.payload.result.nowPlaying, push.payload);
    assert.deepEqual(await playing(), { state: 'play', id: chosen.id });

    // While it plays, the polls push the moving position.
    const poll = await console.waitFor(
      (c) => c.call === 'nowPlaying' && c.payload.persistentID === trackID && c.payload.elapsed > push.payload.elapsed,
      { from: answer.index, what: 'a poll of the playing song' },
    );
    assert.equal(poll.payload.isPlaying, true);
    assert.equal(await console.close(), 0);
  });

  test('ids and parameters with quotes, backslashes, "</script>" and line breaks make one valid line each', async () => {
    const hostile = 'a"b\\c</script><!--\u2028\u2029\n\r\t/';
    const settings = { volume: 30, shuffle: 'Off', repeat: 'Off' };
    // Each with the reply it should get: a result, an error of its own words, or one that
    // carries the hostile text back.
    const cases = [
      { method: 'getSettings', id: hostile, result: true },
      { method: 'getList', id: 'list', params: { path: `music/songs/${hostile}` }, echoed: true },
      { method: 'getList', id: 'bad path', params: { path: hostile }, echoed: true },
      {
        method: 'select',
        id: `select ${hostile}`,
        params: { id: `music-track:${hostile}`, ...settings },
        error: 'Music can’t play this song right now.',
      },
      { method: 'select', id: 'not a track', params: { id: hostile, ...settings }, echoed: true },
      {
        method: 'playCollection',
        id: 'collection',
        params: { path: hostile, id: `music-track:${hostile}`, ...settings },
        echoed: true,
      },
    ];
    // One at a time, so that no playback request supersedes the one before it.
    const console = session();
    for (const { method, id, params, ...expected } of cases) {
      console.write([request(method, id, params)]);
      const { payload } = await console.answer(id);
      const shown = `${JSON.stringify(id)}: ${JSON.stringify(payload)}`;
      if (expected.result) assert.ok(payload.result, shown);
      else if (expected.echoed) assert.ok(payload.error?.includes(hostile), shown);
      else assert.equal(payload.error, expected.error, shown);
    }
    assert.equal(await console.close(), 0);
    // Each line made one call (a failed playback request pushes nothing), and nothing played.
    assert.equal(console.lines.length, console.calls.length);
    assert.deepEqual(
      answers(console.calls).map((c) => c.id),
      cases.map((c) => c.id),
    );
    assert.equal((await playing()).state, 'stop');
  });

  test('10,000 "getSettings" written at once are each answered exactly once, in order', async () => {
    const ids = Array.from({ length: 10_000 }, (_, i) => `settings-${i}`);
    const { status, lines } = await runConsole(
      CONSOLE,
      ids.map((id) => request('getSettings', id)),
      { args, env: environment(), timeoutMs: 180_000 },
    );
    assert.equal(status, 0);
    const calls = answers(evaluate(lines));
    assert.deepEqual(
      calls.map((c) => c.id),
      ids,
    );
    // Each is read from the player (a script run each) unless it waited past its 18 s behind the
    // others: then it is answered at once, and never run.
    let read = 0;
    for (const { id, payload } of calls) {
      if (payload.error) {
        assert.equal(payload.error, expired('getSettings'), id);
      } else {
        assert.deepEqual(Object.keys(payload.result).sort(), ['alwaysOnTop', 'transport', 'volume'], id);
        read += 1;
      }
    }
    assert.ok(!calls[0].payload.error, 'the first one is read');
    assert.ok(read > 0);
  });

  const settings = { volume: 30, shuffle: 'Off', repeat: 'Off' };
  for (const { name, methods, spread } of [
    { name: '1,000 "select" requests written at once', methods: ['select'], spread: false },
    // Most start before the next one arrives: their scripts are killed as they run.
    { name: '1,000 "select" requests a few milliseconds apart', methods: ['select'], spread: true },
    // A start killed half-way may have made its temporary playlist already.
    {
      name: '1,000 starts a few milliseconds apart, songs and collections taking turns',
      methods: ['select', 'playCollection'],
      spread: true,
    },
  ]) {
    test(`${name} end with MPD playing the last one's track, no script and no stray playlist left`, async () => {
      const console = session();
      const rows = await songRows(console);
      const gone = `music-track:${songPersistentID(players.goneURI)}`;
      const playable = rows.filter((row) => row.id !== gone);
      // A collection played before: its temporary playlist is the current one, which may stay.
      console.write([request('playCollection', 'first', { path: 'music/songs', id: playable[0].id, ...settings })]);
      assert.ok(!(await console.answer('first')).payload.error);

      const starts = Array.from({ length: 1000 }, (_, i) => {
        const method = methods[i % methods.length];
        const track = playable[(i * 5 + 1) % playable.length].id;
        const params = method === 'select' ? { id: track } : { path: 'music/songs', id: track };
        return { method, id: `start-${i}`, track, body: request(method, `start-${i}`, { ...params, ...settings }) };
      });
      if (spread) {
        for (const { body } of starts) {
          console.write([body]);
          await sleep(2 + Math.random() * 8);
        }
      } else {
        console.write(starts.map(({ body }) => body));
      }
      const last = starts.at(-1);
      const lastAnswer = await console.answer(last.id, { timeoutMs: 120_000 });
      assert.ok(lastAnswer.payload.result, JSON.stringify(lastAnswer.payload));

      // The overtaken ones: stopped before they ran, or their script killed while it ran or was sent.
      const answered = answers(console.calls).filter((c) => c.id.startsWith('start-'));
      assert.deepEqual(
        answered.map((c) => c.id),
        starts.map(({ id }) => id),
      );
      answered.slice(0, -1).forEach(({ id, payload }, i) => {
        const allowed = [superseded(starts[i].method), cancelledScript, cutOffScript];
        assert.ok(payload.result || allowed.includes(payload.error), `${id}: ${JSON.stringify(payload)}`);
      });
      if (spread) {
        const ran = answered.filter(
          ({ payload }) => payload.result || [cancelledScript, cutOffScript].includes(payload.error),
        );
        assert.ok(ran.length > 1, 'requests started before the next one came');
      }

      // Nothing is left running, while the console still runs: no child of it, and no script
      // tool anywhere (one that left its parent included).
      assert.deepEqual(await childrenOf(console.pid), []);
      assert.deepEqual(
        (await processesMarked(marker)).filter(({ pid }) => pid !== console.pid),
        [],
      );
      assert.deepEqual(await playing(), { state: 'play', id: last.track });
      assert.equal(await console.close(), 0);

      // Temporary playlists: only the one the defaults record as current may stay, and none is
      // recorded as pending.
      const defaults = savedDefaults();
      assert.equal(defaults.veltoPendingQueueName, undefined);
      const temporary = (await mpdState(players.mpdHost)).playlists.filter(
        (name) => name.startsWith(queuePrefix) && !savedMpd.playlists.includes(name),
      );
      assert.deepEqual(temporary, [defaults.veltoManagedQueueName]);
    });
  }
});
