// The firmware in the engine users actually meet: a WebKitGTK web view under Xvfb that serves it
// over the "velto" scheme and talks to it through the "velto" message handler (webkit/smoke.py).

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { fileURLToPath } from 'node:url';
import { FIRMWARE_ROOT } from '../support/server.js';

const PYTHON = '/usr/bin/python3';
const SMOKE = fileURLToPath(new URL('../webkit/smoke.py', import.meta.url));
const SCREENSHOTS = fileURLToPath(new URL('../webkit/screenshots.py', import.meta.url));
const OUT = new URL('../out/screenshots/', import.meta.url);

function missing() {
  const probe = spawnSync(PYTHON, ['-c', 'import gi; gi.require_version("WebKit2", "4.1"); gi.require_version("Gtk", "3.0")']);
  if (probe.status !== 0) return 'WebKitGTK for Python is not installed (gir1.2-webkit2-4.1, python3-gi-cairo)';
  if (spawnSync('Xvfb', ['-help']).error) return 'Xvfb is not installed';
  return null;
}

/** Starts Xvfb on a free display; resolves with the display name and a stop function. */
function startXvfb() {
  return new Promise((resolve, reject) => {
    const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1024x900x24', '-nolisten', 'tcp', '-noreset'], {
      stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
    });
    let text = '';
    xvfb.stdio[3].on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) resolve({ display: `:${text.trim()}`, stop: () => xvfb.kill() });
    });
    xvfb.on('error', reject);
    xvfb.on('exit', (code) => reject(new Error(`Xvfb exited with ${code}`)));
  });
}

/** Runs one of the WebKitGTK scripts on a display of its own; resolves with its exit code and output. */
async function runWebKit(script, args) {
  const xvfb = await startXvfb();
  try {
    const child = spawn(PYTHON, [script, ...args], {
      env: {
        ...process.env,
        DISPLAY: xvfb.display,
        GDK_BACKEND: 'x11',
        NO_AT_BRIDGE: '1',
        LIBGL_ALWAYS_SOFTWARE: '1',
        // Root in a container cannot set up WebKit's bubblewrap sandbox.
        WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS: '1',
      },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (c) => (stdout += c));
    child.stderr.on('data', (c) => (stderr += c));
    const code = await new Promise((resolve) => child.on('exit', resolve));
    return { code, stdout, stderr };
  } finally {
    xvfb.stop();
  }
}

test('WebKitGTK loads the firmware over the velto scheme and talks to the native handler', { skip: missing() ?? false, timeout: 120_000 }, async (t) => {
  fs.mkdirSync(OUT, { recursive: true });
  const snapshot = fileURLToPath(new URL('webkit-music.png', OUT));
  const { code, stdout, stderr } = await runWebKit(SMOKE, [FIRMWARE_ROOT, snapshot]);
  assert.equal(code, 0, stderr);
  const seen = JSON.parse(stdout);
  for (const file of ['index.html', 'css/device.css', 'js/main.js', 'js/app.js', 'js/view.js', 'fonts/Inter-SemiBold.woff2']) {
    assert.ok(seen.requests.includes(file), `${file} was requested`);
  }
  const [ready, getList] = seen.messages;
  assert.equal(ready.method, 'ready');
  assert.equal(ready.version, 1);
  assert.deepEqual(ready.params, {});
  assert.ok(typeof ready.id === 'string' && ready.id.length > 0 && ready.id.length <= 128);
  assert.deepEqual([getList.method, getList.params], ['getList', { path: 'music', offset: 0, limit: 100 }]);
  assert.notEqual(getList.id, ready.id);
  assert.deepEqual(
    [seen.checks.title, seen.checks.rows, seen.checks.resizeOutSettled, seen.checks.audio, seen.checks.snapshot],
    ['Music', ['Songs', 'Search'], true, 'function', true],
  );
  assert.deepEqual(seen.checks.errors, [], 'no uncaught error in the page');
  // Left alone on a list the page asks for no animation frame.
  assert.equal(seen.idle.animationFrames, 0, 'animation frames requested while idle');
  t.diagnostic(`WebKitGTK idle: ${seen.idle.webProcessCpuPercent} % of a core over ${seen.idle.seconds} s`);
  // The 100,000-song answer went through: report what it cost in this engine.
  assert.equal(seen.perf.listTitle, 'Songs');
  const figures = Object.fromEntries(Object.entries(seen.perf).map(([k, v]) => [k, typeof v === 'number' ? Math.round(v * 100) / 100 : v]));
  t.diagnostic(`WebKitGTK: ${JSON.stringify(figures)}`);
  fs.writeFileSync(new URL('../perf-webkit.json', OUT), `${JSON.stringify({ ...figures, idle: seen.idle }, null, 2)}\n`);
});

// For a person to look at: the main states at the four sizes as WebKitGTK draws them.
test('WebKitGTK draws every main state at the four sizes', { skip: missing() ?? false, timeout: 200_000 }, async () => {
  fs.mkdirSync(OUT, { recursive: true });
  const { code, stdout, stderr } = await runWebKit(SCREENSHOTS, [FIRMWARE_ROOT, fileURLToPath(OUT)]);
  assert.equal(code, 0, `${stdout}\n${stderr}`);
  assert.equal(JSON.parse(stdout).taken.length, 36);
});
