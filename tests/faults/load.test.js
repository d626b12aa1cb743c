// The device at its busiest: the wheel spinning on the volume with a request per step, a step per
// display frame (60 a second) and never two in flight, as the firmware sends them; lists opened between,
// and the 1 s poll running, for WHEELBOX_LOAD_SECONDS (default 60; 600 for the full run). No
// answer is lost or out of order, and the console's memory stays flat.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { randomUUID } from 'node:crypto';
import { promises as fs } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { ConsoleSession, request } from '../bridge/console/console.js';
import { processesMarked, services } from '../bridge/console/players.js';
import { PrivateMpd, eventually, fixtureLibrary, residentKiB, consoleEnvironment, stopConsole } from './support.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const args = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];
const players = services();
const skip =
  !players && process.env.WHEELBOX_REQUIRE_SERVICES !== '1' && 'needs tests/services/up (WHEELBOX_TEST_MPD_HOST, …)';
const seconds = Number(process.env.WHEELBOX_LOAD_SECONDS ?? 60);

describe('load', { skip }, () => {
  let folder;
  let server;
  let console;
  let marker;

  before(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-load-'));
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    server = new PrivateMpd(path.join(folder, 'mpd'));
    await server.prepare();
    const library = await fixtureLibrary();
    for (const entry of await fs.readdir(path.join(library, 'music'))) {
      await fs.symlink(path.join(library, 'music', entry), path.join(server.music, entry));
    }
    await server.start();
    marker = `WHEELBOX_FAULT_TEST=${randomUUID()}`;
    const env = consoleEnvironment({ mpdHost: server.socket, busAddress: players.busAddress, folder, marker });
    console = new ConsoleSession(CONSOLE, { args, env });
  });

  after(async () => {
    await stopConsole(console);
    await server?.stop();
    await fs.rm(folder, { recursive: true, force: true });
  });

  test(`${seconds} s of wheel steps with the poll running: every answer, in order, and memory flat`, async () => {
    console.write([request('ready', 'ready'), request('getList', 'songs', { path: 'music/songs' })]);
    await console.answer('ready');
    const songs = (await console.answer('songs')).payload.result.items;
    const index = songs.findIndex((row) => !/Take/.test(row.title));
    console.write([request('playCollection', 'play', { path: 'music/songs', id: songs[index].id, index, volume: 30, shuffle: 'Off', repeat: 'Off' })]);
    assert.ok((await console.answer('play')).payload.result);

    const lists = ['music/songs', 'music/artists', 'music/albums', 'music/genres', 'music/playlists'];
    const sent = [];
    const memory = [];
    const started = performance.now();
    let step = 0;
    let nextSample = 0;
    const frame = 1000 / 60;
    while (performance.now() - started < seconds * 1000) {
      const due = started + step * frame;
      if (performance.now() < due) await sleep(due - performance.now());
      // A step of the wheel, and every tenth a list opened, as a spin through the menus does.
      const id = `step-${step}`;
      const body =
        step % 10 === 9
          ? request('getList', id, { path: lists[(step / 10) % lists.length | 0] })
          : request('setVolume', id, { volume: 20 + (step % 60) });
      const from = console.calls.length;
      console.write([body]);
      sent.push(id);
      const { payload } = await console.answer(id, { from, timeoutMs: 40_000 });
      assert.ok(payload.result !== undefined || payload.error === undefined, `${id}: ${JSON.stringify(payload)}`);
      assert.ok(!payload.error, `${id}: ${JSON.stringify(payload).slice(0, 300)}`);
      step += 1;
      const elapsed = performance.now() - started;
      if (elapsed >= nextSample) {
        memory.push({ at: elapsed / 1000, kib: await residentKiB(console.pid) });
        nextSample += 5000;
      }
    }
    const elapsed = (performance.now() - started) / 1000;
    const answered = console.calls.filter((c) => c.call === 'resolve' && c.id.startsWith('step-')).map((c) => c.id);
    assert.deepEqual(answered, sent, 'each step answered once, in order');
    const polls = console.calls.filter((c) => c.call === 'nowPlaying').length;

    // Flat: after the first quarter (caches filled), the last reading within 10 % or 2 MiB of it.
    const settled = memory[Math.floor(memory.length / 4)].kib;
    const last = memory.at(-1).kib;
    const report = `${step} steps in ${elapsed.toFixed(0)} s (${(step / elapsed).toFixed(0)}/s), ${polls} pushes, RSS ${memory[0].kib} → ${settled} → ${last} KiB (last/settled ${(last / settled).toFixed(3)})`;
    if (process.env.WHEELBOX_FAULT_REPORT) process.stderr.write(`${report}\n`);
    // A sanitizer keeps freed memory in quarantine, so only a plain build's memory says anything.
    if (!process.env.WHEELBOX_SANITIZED) assert.ok(last <= Math.max(settled * 1.1, settled + 2048), report);
    assert.ok(polls > 0, 'the poll ran');

    assert.equal(await console.close(30_000), 0);
    await eventually(async () => (await processesMarked(marker)).length === 0, { what: 'nothing left running' });
  });
});
