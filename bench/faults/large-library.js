// A library of 300,000 songs (an MPD database written by bench/osascript/make-database, no audio
// behind it) through wheelbox-bridge over the application's back end: how long each top list
// takes to answer, as a share of the bridge's 35 s limit for lists, and the console's memory.
//   usage: node bench/faults/large-library.js BUILD_DIR [SONGS]

import { execFileSync } from 'node:child_process';
import { promises as fs } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { ConsoleSession, request } from '../../tests/bridge/console/console.js';
import { PrivateMpd } from '../../tests/faults/support.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const [build, songsArgument] = process.argv.slice(2);
const songs = Number(songsArgument ?? 300_000);
const limitSeconds = 35;

async function main() {
  const folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-large-'));
  const server = new PrivateMpd(path.join(folder, 'mpd'));
  let console;
  try {
    await server.prepare();
    execFileSync(path.join(root, 'bench', 'osascript', 'make-database'), [server.database, String(songs)]);
    await server.start();
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
    const env = { ...process.env, MPD_HOST: server.socket, XDG_CONFIG_HOME: path.join(folder, 'config'), XDG_RUNTIME_DIR: path.join(folder, 'run') };
    delete env.MPD_PORT;
    console = new ConsoleSession(path.join(build, 'tools', 'bridge', 'wheelbox-bridge'), {
      args: ['--power-supply', path.join(root, 'tests', 'platform', 'fixtures', 'power_supply', 'desktop')],
      env,
    });
    const status = async () => {
      const text = await fs.readFile(`/proc/${console.pid}/status`, 'utf8');
      const kib = (name) => Number(new RegExp(`^${name}:\\s+(\\d+) kB`, 'm').exec(text)[1]);
      return { rss: kib('VmRSS'), peak: kib('VmHWM') };
    };
    // Measured once the console is up and has answered, before the library is read.
    console.write([request('getSettings', 'settings')]);
    await console.answer('settings', { timeoutMs: 30_000 });
    const before = await status();
    // The first list reads the whole library; the others are built from what it read.
    for (const list of ['music/songs', 'music/artists', 'music/albums', 'music/genres', 'music/songs']) {
      const sent = performance.now();
      console.write([request('getList', list, { path: list })]);
      const { payload, at } = await console.answer(list, { from: console.calls.length, timeoutMs: 120_000 });
      if (!payload.result) throw new Error(`${list}: ${JSON.stringify(payload).slice(0, 300)}`);
      const seconds = (at - sent) / 1000;
      process.stdout.write(
        `faults/${songs} songs, getList ${list}: ${payload.result.items.length} rows in ${seconds.toFixed(2)} s, ` +
          `${((seconds / limitSeconds) * 100).toFixed(1)} % of the bridge's ${limitSeconds} s limit\n`,
      );
    }
    const after = await status();
    process.stdout.write(
      `faults/${songs} songs: console RSS ${(before.rss / 1024).toFixed(0)} MiB before, ${(after.rss / 1024).toFixed(0)} MiB after, ` +
        `peak ${(after.peak / 1024).toFixed(0)} MiB (${(after.peak / before.rss).toFixed(1)}x its start); ` +
        `the times include reading each answer line in Node\n`,
    );
    await console.close(60_000);
  } finally {
    if (console && !console.closed) console.child.kill('SIGKILL');
    await server.stop();
    await fs.rm(folder, { recursive: true, force: true });
  }
}

await main();
