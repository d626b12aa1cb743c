// The script tool misbehaving: killed, hung, flooding its output, leaving a child that holds its
// output open, or missing. wheelbox-bridge runs from a folder of the test's own, where a stand-in
// takes the tool's place. Every request is answered once, within its limit, and nothing the tool
// started is left running.

import { afterEach, beforeEach, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { randomUUID } from 'node:crypto';
import { promises as fs } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { setTimeout as sleep } from 'node:timers/promises';
import { ConsoleSession, request } from '../bridge/console/console.js';
import { childrenOf, processesMarked, services } from '../bridge/console/players.js';
import { consoleWithTool, eventually, zombiesUnder, consoleEnvironment, stopConsole } from './support.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const args = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];
const players = services();
const skip =
  !players && process.env.WHEELBOX_REQUIRE_SERVICES !== '1' && 'needs tests/services/up (WHEELBOX_TEST_MPD_HOST, …)';

// The bridge's limits in seconds. Sent one at a time, as the device does, a request starts at once
// and its scripts' own deadlines end it well within them.
const limits = { ready: 25, getSettings: 18, playPause: 25, select: 25, playCollection: 65, getList: 35 };

const tools = [
  { name: 'killed as it starts', script: '#!/bin/sh\nkill -KILL $$\n' },
  { name: 'hung, never reading its script', script: '#!/bin/sh\nexec sleep 1000\n' },
  // Ended by the same deadlines as a hung one: a few requests show it.
  { name: 'flooding its output', script: '#!/bin/sh\nexec cat /dev/zero\n', only: ['ready', 'getSettings', 'getList'] },
  {
    name: 'leaving a child that holds its output open',
    // The child keeps standard output and error; the tool itself answers at once.
    script: '#!/bin/sh\nsleep 1000 &\necho 42\n',
    succeeds: true,
  },
  { name: 'missing', script: null },
];

describe('the script tool failing', { skip }, () => {
  let folder;
  let marker;
  let console;

  beforeEach(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-faults-'));
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    marker = `WHEELBOX_FAULT_TEST=${randomUUID()}`;
  });

  afterEach(async () => {
    await stopConsole(console);
    for (const { pid } of await processesMarked(marker)) process.kill(pid, 'SIGKILL');
    await fs.rm(folder, { recursive: true, force: true });
  });

  function environment() {
    return consoleEnvironment({ mpdHost: players.mpdHost, busAddress: players.busAddress, folder, marker });
  }

  for (const { name, script, succeeds, only } of tools) {
    test(`a tool ${name}: each request is answered once, in time, and nothing is left running`, async () => {
      const program = await consoleWithTool(CONSOLE, folder, script);
      console = new ConsoleSession(program, { args, env: environment() });
      // A song id of the library, so that "select" reaches the tool.
      console.write([request('getList', 'songs', { path: 'music/songs' })]);
      const songs = await console.answer('songs');
      const song = songs.payload.result.items[0].id;

      const sent = [
        ['ready', 'ready'],
        ['getSettings', 'settings'],
        ['playPause', 'play-pause'],
        ['select', 'select', { id: song, volume: 30, shuffle: 'Off', repeat: 'Off' }],
        ['playCollection', 'collection', { path: 'music/songs', id: song, volume: 30, shuffle: 'Off', repeat: 'Off' }],
        ['getList', 'list', { path: 'music/artists' }],
      ].filter(([method]) => !only || only.includes(method));
      const from = console.calls.length;
      const took = {};
      for (const [method, id, params] of sent) {
        const start = performance.now();
        console.write([request(method, id, params)]);
        const answer = await console.answer(id, { from, timeoutMs: (limits[method] + 5) * 1000 });
        took[id] = Number(((answer.at - start) / 1000).toFixed(2));
        assert.ok(took[id] <= limits[method], `${id} answered after ${took[id]} s`);
        const { payload } = answer;
        const shown = `${id}: ${JSON.stringify(payload)}`;
        if (!succeeds && ['playPause', 'select', 'playCollection'].includes(method)) {
          // Nothing can play without the tool: these fail, with a message of their own.
          assert.equal(typeof payload.error, 'string', shown);
          assert.ok(payload.error.length > 0, shown);
        } else {
          // The library needs no tool; "ready" and the settings fall back to what is known. A tool
          // that exits well may also make a command succeed, or its odd answer fail the request.
          assert.ok(payload.result || (succeeds && payload.error), shown);
        }
      }
      // Each answered once.
      const ids = console.calls.slice(from).filter((c) => c.call === 'resolve').map((c) => c.id);
      assert.deepEqual(ids, sent.map(([, id]) => id));

      // The polls keep running the tool meanwhile; nothing they start outlives its deadline.
      await sleep(2000);
      await eventually(
        async () => (await processesMarked(marker)).filter(({ pid }) => pid !== console.pid).length === 0,
        { timeoutMs: 10_000, what: 'no tool process left while the console runs' },
      ).catch(async (error) => {
        error.message += `: ${JSON.stringify(await processesMarked(marker))}`;
        throw error;
      });
      assert.deepEqual(await zombiesUnder(console.pid), []);
      assert.equal(await console.close(30_000), 0);
      assert.deepEqual(await childrenOf(console.pid), []);
      assert.deepEqual(await processesMarked(marker), []);
      if (process.env.WHEELBOX_FAULT_REPORT) process.stderr.write(`${name}: ${JSON.stringify(took)}\n`);
    });
  }
});
