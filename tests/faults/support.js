// What the fault tests need beyond the console tests' helpers: an MPD of the test's own, which it
// may kill and start again, a console whose script tool is a stand-in, and a look at what is left
// behind (processes, temporary playlists, temporary files).

import assert from 'node:assert/strict';
import { execFile, spawn } from 'node:child_process';
import { promises as fs } from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';
import { setTimeout as sleep } from 'node:timers/promises';
import { mpd } from '../bridge/console/players.js';

const run = promisify(execFile);
const here = path.dirname(fileURLToPath(import.meta.url));

export const queuePrefix = 'Wheelbox Queue • ';
// A Spotify bus name no one owns: the consoles here leave the shared stub player alone, which the
// other tests set up and count calls on.
export const noSpotify = 'org.mpris.MediaPlayer2.wheelboxFaultsNobody';

/** The folder of the generated fixture library (music/, playlists/, manifest.json). */
export async function fixtureLibrary() {
  const { stdout } = await run(path.join(here, '..', 'fixtures', 'make-library'));
  return stdout.trim();
}

/**
 * An MPD over a music folder of the test's own, on a unix socket under `folder`, with the null
 * output playing in real time. It may be killed and started again over the same database.
 */
export class PrivateMpd {
  constructor(folder) {
    this.folder = folder;
    this.music = path.join(folder, 'music');
    this.playlists = path.join(folder, 'playlists');
    this.socket = path.join(folder, 'socket');
    this.database = path.join(folder, 'database');
    this.config = path.join(folder, 'mpd.conf');
    this.process = null;
  }

  /** Writes the configuration; the test fills `music` and `playlists`. */
  async prepare() {
    await fs.mkdir(this.music, { recursive: true });
    await fs.mkdir(this.playlists, { recursive: true });
    await fs.writeFile(
      this.config,
      [
        `music_directory "${this.music}"`,
        `playlist_directory "${this.playlists}"`,
        `db_file "${this.database}"`,
        `log_file "${path.join(this.folder, 'log')}"`,
        `bind_to_address "${this.socket}"`,
        'auto_update "no"',
        'zeroconf_enabled "no"',
        'max_output_buffer_size "65536"',
        'audio_output {',
        '  type "null"',
        '  name "null"',
        '  sync "yes"',
        '  mixer_type "software"',
        '}',
        '',
      ].join('\n'),
    );
  }

  /** Starts MPD and waits until it answers; a first start also builds the database. */
  async start({ scan = true } = {}) {
    await fs.rm(this.socket, { force: true });
    const firstStart = !(await exists(this.database));
    this.process = spawn('mpd', ['--no-daemon', this.config], { stdio: 'ignore' });
    const started = this.process;
    this.exited = new Promise((resolve) => started.on('exit', resolve));
    const deadline = Date.now() + 10_000;
    for (;;) {
      try {
        await mpd(this.socket, 'ping');
        break;
      } catch (error) {
        if (started.exitCode !== null || Date.now() > deadline) throw new Error(`MPD did not start: ${error.message}`);
        await sleep(50);
      }
    }
    if (firstStart && scan) await this.update();
  }

  /** Updates the database and waits for the update to end. */
  async update() {
    await mpd(this.socket, 'update');
    await this.updated();
  }

  async updated(timeoutMs = 30_000) {
    const deadline = Date.now() + timeoutMs;
    while ((await mpd(this.socket, 'status')).some(([key]) => key === 'updating_db')) {
      if (Date.now() > deadline) throw new Error('the MPD database update did not end');
      await sleep(50);
    }
  }

  /** SIGKILL, as a crash would end it; returns when it is gone and reaped. */
  async kill() {
    if (!this.process || this.process.exitCode !== null || this.process.signalCode !== null) return;
    this.process.kill('SIGKILL');
    await this.exited;
  }

  async stop() {
    if (!this.process || this.process.exitCode !== null || this.process.signalCode !== null) return;
    this.process.kill('SIGTERM');
    const timer = setTimeout(() => this.process.kill('SIGKILL'), 5000);
    await this.exited;
    clearTimeout(timer);
  }

  /**
   * A socket in front of MPD that passes everything through and calls `watch(command)` with each
   * command line a client sends, before MPD gets it: the test can kill MPD at an exact step.
   */
  async listenInFront(watch) {
    this.front = path.join(this.folder, 'front');
    await fs.rm(this.front, { force: true });
    this.clients = new Set();
    this.proxy = net.createServer((client) => {
      this.clients.add(client);
      const upstream = net.createConnection(this.socket);
      let pending = '';
      const end = () => {
        client.destroy();
        upstream.destroy();
        this.clients.delete(client);
      };
      client.on('data', (chunk) => {
        pending += chunk.toString('latin1');
        let line;
        while ((line = pending.indexOf('\n')) >= 0) {
          watch(Buffer.from(pending.slice(0, line), 'latin1').toString('utf8'));
          pending = pending.slice(line + 1);
        }
        // Killed by the watcher: the command never reaches MPD.
        if (!upstream.destroyed && this.process && !this.process.killed) upstream.write(chunk);
        else end();
      });
      upstream.on('data', (chunk) => client.write(chunk));
      for (const side of [client, upstream]) {
        side.on('error', end);
        side.on('close', end);
      }
    });
    await new Promise((resolve) => this.proxy.listen(this.front, resolve));
    return this.front;
  }

  async closeFront() {
    if (!this.proxy) return;
    for (const client of this.clients) client.destroy();
    await new Promise((resolve) => this.proxy.close(resolve));
    this.proxy = null;
  }

  /** The stored playlists, by name. */
  async playlistNames() {
    return (await mpd(this.socket, 'listplaylists')).filter(([k]) => k === 'playlist').map(([, v]) => v);
  }
}

export async function exists(file) {
  try {
    await fs.lstat(file);
    return true;
  } catch {
    return false;
  }
}

/**
 * wheelbox-bridge copied out of the build folder with `tool` (a shell script, or null for none) as
 * its script tool: a program outside the build folder runs ../libexec/wheelbox-osascript.
 */
/**
 * The environment of a console under test: MPD at `mpdHost`, the services' bus with a Spotify no
 * one owns, settings and runtime files under `folder`, and `marker` ("NAME=value") set so that
 * every process it starts can be found and ended.
 */
export function consoleEnvironment({ mpdHost, busAddress, folder, marker }) {
  const env = {
    ...process.env,
    MPD_HOST: mpdHost,
    DBUS_SESSION_BUS_ADDRESS: busAddress,
    WHEELBOX_SPOTIFY_BUS_NAME: noSpotify,
    XDG_CONFIG_HOME: path.join(folder, 'config'),
    XDG_RUNTIME_DIR: path.join(folder, 'run'),
  };
  delete env.MPD_PORT;
  const [name, value] = marker.split('=');
  env[name] = value;
  return env;
}

/** Ends a console session, if one was started, and waits for it. */
export async function stopConsole(session) {
  if (session && !session.closed) session.child.kill('SIGKILL');
  await session?.exited;
}

export async function consoleWithTool(program, folder, tool) {
  const bin = path.join(folder, 'bin');
  const libexec = path.join(folder, 'libexec');
  await fs.mkdir(bin, { recursive: true });
  await fs.mkdir(libexec, { recursive: true });
  const copy = path.join(bin, 'wheelbox-bridge');
  await fs.copyFile(program, copy);
  await fs.chmod(copy, 0o755);
  const toolPath = path.join(libexec, 'wheelbox-osascript');
  await fs.rm(toolPath, { force: true });
  if (tool !== null) await fs.writeFile(toolPath, tool, { mode: 0o755 });
  return copy;
}

/** Waits until `check` holds, polling; fails with `what` after `timeoutMs`. */
export async function eventually(check, { timeoutMs = 10_000, what = 'the condition' } = {}) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`${what} did not hold within ${timeoutMs} ms`);
    await sleep(25);
  }
}

/** Zombies among `pids`' children would show as state Z; none may stay. */
export async function zombiesUnder(pid) {
  const zombies = [];
  for (const name of await fs.readdir('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const stat = await fs.readFile(`/proc/${name}/stat`, 'utf8');
      const [state, parent] = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (state === 'Z' && Number(parent) === pid) zombies.push(Number(name));
    } catch {
      // gone
    }
  }
  return zombies;
}

/** The resident memory of a process, in KiB. */
export async function residentKiB(pid) {
  const status = await fs.readFile(`/proc/${pid}/status`, 'utf8');
  const match = /^VmRSS:\s+(\d+) kB/m.exec(status);
  assert.ok(match, `no VmRSS for ${pid}`);
  return Number(match[1]);
}

/** Files in `folder` (not recursing) that a writer left half-done: "NAME.XXXXXX" temporaries. */
export async function temporaryFiles(folder) {
  let names;
  try {
    names = await fs.readdir(folder);
  } catch {
    return [];
  }
  return names.filter((name) => /\.[A-Za-z0-9]{6}$/.test(name) && !name.endsWith('.json'));
}
