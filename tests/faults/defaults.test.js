// The user-defaults file as a crash, a full disk or the user may leave it: corrupt, truncated,
// unwritable, or its folder missing. wheelbox-bridge starts over each, answers "ready", keeps a
// corrupt file aside, and never loses a setting without saying so.

import { afterEach, beforeEach, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { promises as fs, statSync } from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { ConsoleSession, request } from '../bridge/console/console.js';
import { services } from '../bridge/console/players.js';
import { temporaryFiles, noSpotify, stopConsole } from './support.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const args = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];
const players = services();
const skip =
  !players && process.env.WHEELBOX_REQUIRE_SERVICES !== '1' && 'needs tests/services/up (WHEELBOX_TEST_MPD_HOST, …)';

// Whether anyone may run `file`: each folder on its way searchable, the file executable by all.
function runnableByAnyone(file) {
  try {
    let at = path.resolve(file);
    if ((statSync(at).mode & 0o001) === 0) return false;
    while (at !== path.dirname(at)) {
      at = path.dirname(at);
      if ((statSync(at).mode & 0o001) === 0) return false;
    }
    return true;
  } catch {
    return false;
  }
}

// A user who is not root, so that folder permissions hold (root writes anywhere).
const nobody = (() => {
  if (process.getuid() !== 0 || !CONSOLE || !runnableByAnyone(CONSOLE)) return null;
  try {
    return { uid: Number(execFileSync('id', ['-u', 'nobody']).toString()), gid: Number(execFileSync('id', ['-g', 'nobody']).toString()) };
  } catch {
    return null;
  }
})();

const saved = {
  alwaysOnTop: false,
  activeTransport: 'music',
  veltoDeviceSerial: 'VT123ABCDEF',
  someoneElses: { kept: [1, 2, 3] },
};
const whole = `${JSON.stringify(saved, null, 2)}\n`;

// Each case: how the folder is left before the start, and what the start must make of it.
const cases = [
  { name: 'corrupt', contents: whole.replace('"music"', 'music'), aside: true },
  { name: 'truncated half-way', contents: whole.slice(0, Math.floor(whole.length / 2)), aside: true },
  { name: 'empty', contents: '', aside: true },
  { name: 'not an object', contents: '[1, 2]\n', aside: true },
  { name: 'holding NUL bytes', contents: whole.replace('VT1', 'V\u0000T1'), aside: true },
  { name: 'whole', contents: whole, aside: false, kept: saved },
  { name: 'missing, with its folder', folder: 'missing', aside: false },
  { name: 'in a folder whose path runs into a file', folder: 'file', aside: false, unsaved: true },
  ...(process.getuid() !== 0 || nobody
    ? [
        { name: 'in a folder it may not write', contents: whole, folder: 'read-only', aside: false, kept: saved, unsaved: true },
        // Left by a run as another user: kept whole, neither moved aside nor replaced.
        { name: 'it may not read', contents: whole, folder: 'unreadable', aside: false, unreadable: true },
      ]
    : []),
];

describe('the user-defaults file damaged', { skip }, () => {
  let folder;
  let console;

  beforeEach(async () => {
    folder = await fs.mkdtemp(path.join(os.tmpdir(), 'wheelbox-defaults-'));
    await fs.chmod(folder, 0o755);
    await fs.mkdir(path.join(folder, 'run'), { mode: 0o700 });
  });

  afterEach(async () => {
    await stopConsole(console);
    await fs.chmod(path.join(folder, 'config', 'wheelbox'), 0o755).catch(() => {});
    await fs.rm(folder, { recursive: true, force: true });
  });

  for (const { name, contents, folder: layout, aside, kept, unsaved, unreadable } of cases) {
    test(`a defaults file ${name}: the device starts${aside ? ', the file is kept aside' : ''} and no setting is lost unsaid`, async () => {
      const config = path.join(folder, 'config');
      const settingsFolder = path.join(config, 'wheelbox');
      const file = path.join(settingsFolder, 'defaults.json');
      let owner = null;
      if (layout === 'file') {
        await fs.mkdir(config, { recursive: true });
        await fs.writeFile(settingsFolder, 'not a folder\n');
      } else if (layout !== 'missing') {
        await fs.mkdir(settingsFolder, { recursive: true });
        await fs.writeFile(file, contents);
      }
      if (layout === 'unreadable') {
        if (nobody) {
          // Root's file, in a folder the console's user may write.
          await fs.chmod(file, 0o600);
          owner = nobody;
          for (const mine of [folder, path.join(folder, 'run'), config, settingsFolder]) {
            await fs.chown(mine, nobody.uid, nobody.gid);
          }
        } else {
          await fs.chmod(file, 0o000);
        }
      }
      if (layout === 'read-only') {
        await fs.chmod(file, 0o644);
        await fs.chmod(settingsFolder, 0o555);
        if (nobody) {
          owner = nobody;
          await fs.chown(folder, nobody.uid, nobody.gid);
          await fs.chown(path.join(folder, 'run'), nobody.uid, nobody.gid);
        }
      }
      const env = {
        ...process.env,
        MPD_HOST: players.mpdHost,
        DBUS_SESSION_BUS_ADDRESS: players.busAddress,
        WHEELBOX_SPOTIFY_BUS_NAME: noSpotify,
        XDG_CONFIG_HOME: config,
        XDG_RUNTIME_DIR: path.join(folder, 'run'),
      };
      delete env.MPD_PORT;
      console = new ConsoleSession(CONSOLE, { args, env, ...(owner && { uid: owner.uid, gid: owner.gid }) });

      console.write([request('ready', 'ready'), request('getAbout', 'about')]);
      const ready = await console.answer('ready');
      assert.ok(ready.payload.result, JSON.stringify(ready.payload));
      if (kept) assert.equal(ready.payload.result.transport, kept.activeTransport);
      const about = await console.answer('about');
      assert.ok(about.payload.result, JSON.stringify(about.payload));
      if (kept) assert.equal(about.payload.result.serial, kept.veltoDeviceSerial);

      // A change made now is saved, or said to be unsaved.
      console.write([request('setAlwaysOnTop', 'on top', { enabled: true })]);
      assert.deepEqual((await console.answer('on top')).payload, { result: { alwaysOnTop: true } });
      assert.equal(await console.close(30_000), 0);
      const effects = console.effects.join('');

      const names = await fs.readdir(settingsFolder).catch(() => []);
      const corrupt = names.filter((n) => n.startsWith('defaults.json.corrupt-'));
      if (aside) {
        // The damaged file is kept, byte for byte, and the move is reported.
        assert.equal(corrupt.length, 1, names.join(', '));
        assert.equal(await fs.readFile(path.join(settingsFolder, corrupt[0]), 'utf8'), contents);
        assert.match(effects, /was moved to .*defaults\.json\.corrupt-/);
      } else {
        assert.deepEqual(corrupt, []);
      }
      if (unreadable) {
        assert.match(effects, /defaults\.json cannot be read \(.*\); it is left as it is/);
        await fs.chmod(file, 0o600);
        assert.equal(await fs.readFile(file, 'utf8'), contents, 'the file is as it was');
      } else if (unsaved) {
        assert.match(effects, /settings cannot be saved in .*changes are kept only until the program ends/);
        if (kept) assert.equal(await fs.readFile(file, 'utf8'), contents, 'the file is as it was');
      } else {
        const now = JSON.parse(await fs.readFile(file, 'utf8'));
        assert.equal(now.alwaysOnTop, true);
        // Every other setting kept (the device may add some of its own).
        for (const [key, value] of Object.entries(kept ?? {})) {
          if (key !== 'alwaysOnTop') assert.deepEqual(now[key], value, key);
        }
        assert.ok(!/cannot be saved/.test(effects), effects);
      }
      assert.deepEqual(await temporaryFiles(settingsFolder), []);
    });
  }
});
