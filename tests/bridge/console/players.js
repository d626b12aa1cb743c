// The players of tests/services/up as a test of the console sees them: the private MPD (asked over
// its socket, in its own protocol), the stub MPRIS player (through gdbus), and the processes the
// console leaves behind.

import { execFile } from 'node:child_process';
import { promises as fs } from 'node:fs';
import net from 'node:net';
import { promisify } from 'node:util';

const run = promisify(execFile);

/** The services' variables, or null when they are not set. */
export function services() {
  const names = {
    mpdHost: 'WHEELBOX_TEST_MPD_HOST',
    busAddress: 'WHEELBOX_TEST_DBUS_ADDRESS',
    playerName: 'WHEELBOX_TEST_MPRIS_NAME',
    manifest: 'WHEELBOX_TEST_MANIFEST',
    goneURI: 'WHEELBOX_TEST_GONE_URI',
  };
  const found = Object.fromEntries(Object.entries(names).map(([key, name]) => [key, process.env[name]]));
  return Object.values(found).every(Boolean) ? found : null;
}

/** An MPD argument: quoted, with backslashes and quotes escaped; line breaks cannot travel. */
function argument(text) {
  if (/[\n\r\0]/.test(text)) throw new Error(`not an MPD argument: ${JSON.stringify(text)}`);
  return `"${text.replace(/[\\"]/g, '\\$&')}"`;
}

/** Runs one MPD command on a connection of its own; its answer as [key, value] pairs. */
export function mpd(socket, command, ...args) {
  return new Promise((resolve, reject) => {
    const connection = net.createConnection(socket);
    connection.setTimeout(10_000, () => connection.destroy(new Error(`MPD did not answer ${command}`)));
    let received = '';
    let greeted = false;
    connection.on('data', (chunk) => {
      received += chunk.toString('utf8');
      if (!greeted) {
        const end = received.indexOf('\n');
        if (end < 0) return;
        greeted = true;
        received = received.slice(end + 1);
        connection.write(`${[command, ...args.map(argument)].join(' ')}\n`);
      }
      const lines = received.split('\n');
      const last = lines.at(-2);
      if (last === 'OK' || last?.startsWith('ACK ')) {
        connection.end();
        if (last !== 'OK') return reject(new Error(`MPD ${command}: ${last}`));
        resolve(
          lines.slice(0, -2).map((line) => {
            const colon = line.indexOf(': ');
            return [line.slice(0, colon), line.slice(colon + 2)];
          }),
        );
      }
    });
    connection.on('error', reject);
  });
}

const valuesOf = (pairs, key) => pairs.filter(([k]) => k === key).map(([, v]) => v);
const valueOf = (pairs, key) => valuesOf(pairs, key)[0];

/** What the tests change in MPD: playback, the queue, the options and the stored playlists. */
export async function mpdState(socket) {
  const status = await mpd(socket, 'status');
  return {
    state: valueOf(status, 'state'),
    volume: valueOf(status, 'volume'),
    repeat: valueOf(status, 'repeat'),
    random: valueOf(status, 'random'),
    single: valueOf(status, 'single'),
    queue: valuesOf(await mpd(socket, 'playlistinfo'), 'file'),
    playlists: valuesOf(await mpd(socket, 'listplaylists'), 'playlist'),
    current: valueOf(await mpd(socket, 'currentsong'), 'file') ?? null,
  };
}

/** Puts back what mpdState() saw, and deletes the stored playlists made since. */
export async function restoreMpd(socket, saved) {
  await mpd(socket, 'stop');
  for (const name of (await mpdState(socket)).playlists) {
    if (!saved.playlists.includes(name)) await mpd(socket, 'rm', name);
  }
  await mpd(socket, 'clear');
  for (const uri of saved.queue) await mpd(socket, 'add', uri);
  if (saved.volume !== undefined && saved.volume !== '-1') await mpd(socket, 'setvol', saved.volume);
  for (const option of ['repeat', 'random', 'single']) await mpd(socket, option, saved[option]);
}

/** FNV-1a 64 of a song's URI, as the library and the script tool name it. */
export function songPersistentID(uri) {
  let hash = 0xcbf29ce484222325n;
  for (const byte of Buffer.from(uri, 'utf8')) {
    hash ^= BigInt(byte);
    hash = (hash * 0x100000001b3n) & 0xffffffffffffffffn;
  }
  return hash.toString(16).toUpperCase().padStart(16, '0');
}

/** Calls a method of the stub player's control interface. */
export async function stubPlayer({ busAddress, playerName }, method, ...args) {
  const { stdout } = await run('gdbus', [
    'call',
    '--address',
    busAddress,
    '--dest',
    playerName,
    '--object-path',
    '/com/velto/test/StubPlayer',
    '--method',
    `com.velto.test.StubPlayer.${method}`,
    ...args,
  ]);
  return stdout;
}

/**
 * Processes whose environment carries `marker` (NAME=value): the console and every descendant,
 * also one that left its parent's session or was handed to another parent. (An ended process
 * that was not reaped shows no environment: childrenOf() finds those among a parent's children.)
 */
export async function processesMarked(marker) {
  const found = [];
  for (const name of await fs.readdir('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    let environment;
    try {
      environment = await fs.readFile(`/proc/${name}/environ`);
    } catch {
      continue; // gone, or not ours to read
    }
    if (!environment.toString('utf8').split('\0').includes(marker)) continue;
    let command = '';
    try {
      command = (await fs.readFile(`/proc/${name}/cmdline`)).toString('utf8').replaceAll('\0', ' ').trim();
    } catch {
      continue;
    }
    found.push({ pid: Number(name), command });
  }
  return found;
}

/** The processes whose parent is `pid`. */
export async function childrenOf(pid) {
  const children = [];
  for (const name of await fs.readdir('/proc')) {
    if (!/^\d+$/.test(name)) continue;
    try {
      const stat = await fs.readFile(`/proc/${name}/stat`, 'utf8');
      // "pid (comm) state ppid …"; the command name may hold spaces and parentheses.
      const [, parent] = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
      if (Number(parent) === pid) children.push(Number(name));
    } catch {
      // gone
    }
  }
  return children;
}
