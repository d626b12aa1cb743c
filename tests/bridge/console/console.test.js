// wheelbox-bridge's test build (a fake back end) driven as a person or a test would drive it:
// lines in, JavaScript and effects out. Every line it writes is run as the page would run it, so a
// line that is not valid JavaScript, or not one line, fails here.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import path from 'node:path';
import { answers, evaluate, request, runConsole as run } from './console.js';

const CONSOLE = process.env.WHEELBOX_BRIDGE_CONSOLE;
const POWER_SUPPLIES = process.env.WHEELBOX_POWER_SUPPLY_FIXTURES;
const noBattery = ['--power-supply', path.join(POWER_SUPPLIES, 'desktop')];

const runConsole = (input, args = noBattery) => run(CONSOLE, input, { args });

test('answers requests, shows effects and follows the control lines', async () => {
  const { status, lines, effects } = await runConsole([
    request('ready', 'ready'),
    'not json',
    '{"$wait": 0.05}',
    JSON.stringify({ method: 'haptic', version: 1 }),
    request('setAlwaysOnTop', 'top', { enabled: true }),
    request('getSettings', 'settings'),
    request('noSuchMethod', 'unknown'),
    '{"$wait": 0.5}', // a navigation drops the answers the old page has not received yet
    '{"$navigate": "https://example.com/page"}',
    request('getSettings', 'foreign'),
    '{"$navigate": "velto://app/index.html"}',
    request('getSettings', 'back'),
    '{"$wait": "soon"}',
    '{"$teleport": true}',
  ]);
  assert.equal(status, 0);
  const calls = evaluate(lines);
  assert.deepEqual(
    answers(calls).map((c) => c.id),
    ['ready', 'top', 'settings', 'unknown', 'back'],
  );
  const byId = Object.fromEntries(answers(calls).map((c) => [c.id, c.payload]));
  assert.deepEqual(byId.ready.result, { bridgeVersion: 1, transport: 'system', volume: 50, nowPlaying: { title: 'Fake Song' } });
  assert.deepEqual(byId.top, { result: { alwaysOnTop: true } });
  assert.deepEqual(byId.settings, { result: { transport: 'system', volume: 50, alwaysOnTop: true } });
  assert.deepEqual(byId.unknown, { error: 'Unknown native method: noSuchMethod' });
  // The clean-up runs on the media queue, so its lines fall anywhere among the console's own.
  const scansEnded = '# fake: scans ended';
  assert.deepEqual(
    effects.filter((line) => line !== scansEnded),
    [
      '# line 2 skipped: not a JSON object',
      '# haptic',
      '# window level 3',
      '# line 13 skipped: $wait takes a number of seconds from 0 to 86400',
      '# line 14 skipped: unknown control $teleport',
    ],
  );
  // One clean-up for each navigation and one for the waiting reset at the end.
  assert.equal(effects.filter((line) => line === scansEnded).length, 3);
});

test('ids and strings of any kind still make one valid line each', async () => {
  const hostileId = 'a"b\\c</script>\u2028\u2029\n\r\u0000/';
  const { lines } = await runConsole([
    request('getSettings', hostileId),
    request('getList', 'hostile', { hostile: true, count: 1 }),
  ]);
  assert.equal(lines.length, 2);
  const [settings, list] = answers(evaluate(lines));
  assert.equal(settings.id, hostileId);
  assert.equal(list.payload.result.items[1].title, 'Caf\uFFFD \u2028 </script>\n"\\');
});

test('a list of 100,000 songs arrives as one line the page parses into the same object', async () => {
  const { lines } = await runConsole([request('getList', 'songs', { count: 100_000 })]);
  assert.equal(lines.length, 1);
  assert.match(lines[0], /^window\.veltoNative\?\.resolve\("songs", JSON\.parse\("/);
  const [answer] = answers(evaluate(lines));
  assert.equal(answer.payload.result.items.length, 100_000);
  assert.deepEqual(answer.payload.result.items[99_999], {
    id: 'music-track:000000000001969F',
    title: 'Song 100000',
    kind: 'track',
    hasChildren: false,
    playable: true,
  });
});

test('at the end of input every request is still answered, then the session is reset', async () => {
  const { status, lines, effects } = await runConsole(
    [request('fakeSlow', 'slow', { milliseconds: 300 }), request('getSettings', 'after')].join('\n'), // no final line break
  );
  assert.equal(status, 0);
  assert.deepEqual(answers(evaluate(lines)).map((c) => c.id), ['slow', 'after']);
  assert.deepEqual(effects, ['# fake: scans ended']);
});

test('"quit" answers, ends the input and exits the same way', async () => {
  const { status, lines, effects } = await runConsole([
    request('fakeSlow', 'slow', { milliseconds: 200 }),
    request('quit', 'quit'),
    request('getSettings', 'never'),
  ]);
  assert.equal(status, 0);
  const calls = answers(evaluate(lines));
  assert.deepEqual(calls.map((c) => c.id), ['quit', 'slow']);
  assert.deepEqual(calls[0].payload, {});
  assert.deepEqual(effects, ['# terminate', '# fake: scans ended']);
});

test('polls push now playing while the window is visible, and the battery after "ready"', async () => {
  // The answers to the marker requests split the output into phases whatever the machine's speed;
  // each marker also makes a poll still running from the phase before stale.
  const { lines } = await runConsole(
    [
      request('ready', 'ready'),
      '{"$wait": 1.5}', // full polls
      '{"$visible": false}',
      request('getSettings', 'hidden'),
      '{"$wait": 2}', // light polls: nothing pushed
      '{"$visible": true}',
      request('getSettings', 'visible'),
      '{"$wait": 1.5}', // full polls again
    ],
    ['--power-supply', path.join(POWER_SUPPLIES, 'charging')],
  );
  const calls = evaluate(lines);
  assert.deepEqual(calls[0], { call: 'battery', payload: { level: 0.5, charging: true } });
  const phase = (id) => calls.findIndex((c) => c.call === 'resolve' && c.id === id);
  const pushesBetween = (from, to) => calls.slice(from, to).filter((c) => c.call === 'nowPlaying');
  assert.ok(pushesBetween(0, phase('hidden')).length >= 1);
  assert.equal(pushesBetween(phase('hidden'), phase('visible')).length, 0);
  assert.ok(pushesBetween(phase('visible'), calls.length).length >= 1);
  for (const push of pushesBetween(0, calls.length)) assert.equal(push.payload.title, 'Fake Song');
});

test('a line longer than the console holds is skipped and the next one still runs', async () => {
  const { lines, effects } = await runConsole([`{"pad":"${'x'.repeat(1_100_000)}"}`, request('getSettings', 'next')]);
  assert.deepEqual(effects, ['# line 1 skipped: longer than 1048576 bytes', '# fake: scans ended']);
  assert.deepEqual(answers(evaluate(lines)).map((c) => c.id), ['next']);
});

test('10,000 requests written at once are each answered once, in order', async () => {
  const ids = Array.from({ length: 10_000 }, (_, i) => `load-${i}`);
  const { status, lines } = await runConsole(ids.map((id) => request('getSettings', id)));
  assert.equal(status, 0);
  assert.deepEqual(answers(evaluate(lines)).map((c) => c.id), ids);
});
