import { test } from 'node:test';
import assert from 'node:assert/strict';
import { BridgeClient, LatestValueSender, NativeError, UNAVAILABLE_TEXT } from '../../../firmware/js/bridge.js';

// Timers that run only when told, so the answer timeout is tested without waiting.
function manualTimers() {
  const timers = new Map();
  let next = 1;
  return {
    setTimeout(fn) {
      timers.set(next, fn);
      return next++;
    },
    clearTimeout(id) {
      timers.delete(id);
    },
    fireAll() {
      for (const [id, fn] of [...timers]) {
        timers.delete(id);
        fn();
      }
    },
    get count() {
      return timers.size;
    },
  };
}

function client(options = {}) {
  const sent = [];
  const timers = manualTimers();
  const bridge = new BridgeClient({ post: (body) => sent.push(body), timers, idPrefix: 'p-', ...options });
  return { bridge, sent, timers };
}

test('requests carry the body form with unique ids and settle by id in any order', async () => {
  const { bridge, sent } = client();
  const first = bridge.request('getList', { path: 'music' });
  const second = bridge.request('getAbout');
  assert.deepEqual(sent[0], { method: 'getList', version: 1, id: 'p-1', params: { path: 'music' } });
  assert.deepEqual(sent[1], { method: 'getAbout', version: 1, id: 'p-2', params: {} });
  assert.equal(bridge.resolve('p-2', { result: { serial: 'VT' } }), true);
  assert.equal(bridge.resolve('p-1', { error: 'Unknown library path: music' }), true);
  assert.deepEqual(await second, { serial: 'VT' });
  await assert.rejects(first, (e) => e instanceof NativeError && e.message === 'Unknown library path: music' && e.method === 'getList');
  assert.equal(bridge.pendingCount, 0);
});

test('an empty payload is a success without a result; stray and repeated answers are ignored', async () => {
  const { bridge, timers } = client();
  const pending = bridge.request('setVolume', { volume: 10 });
  assert.equal(bridge.resolve('p-9', { result: 1 }), false);
  assert.equal(bridge.resolve('p-1', {}), true);
  assert.equal(bridge.resolve('p-1', { error: 'late' }), false);
  assert.equal(await pending, undefined);
  assert.equal(timers.count, 0, 'the timeout is cleared');
});

test('a payload given as JSON text settles like the object it spells', async () => {
  const { bridge } = client();
  const list = bridge.request('getList');
  const failing = bridge.request('getAbout');
  const garbled = bridge.request('getSettings');
  bridge.resolve('p-1', JSON.stringify({ result: { id: 'music', items: [] } }));
  bridge.resolve('p-2', '{"error":"Expired native request: getAbout"}');
  bridge.resolve('p-3', '{"result": ');
  assert.deepEqual(await list, { id: 'music', items: [] });
  await assert.rejects(failing, /Expired native request: getAbout/);
  await assert.rejects(garbled, /Malformed answer/);
});

test('a request that is never answered fails after the timeout and frees its entry', async () => {
  const { bridge, timers } = client();
  const pending = bridge.request('getAbout');
  timers.fireAll();
  await assert.rejects(pending, /No answer from Wheelbox: getAbout/);
  assert.equal(bridge.pendingCount, 0);
  assert.equal(bridge.resolve('p-1', { result: {} }), false);
});

test('without a native side every request fails with a readable text and notify stays silent', async () => {
  const bridge = new BridgeClient({ post: null });
  await assert.rejects(bridge.request('ready'), (e) => e.message === UNAVAILABLE_TEXT);
  assert.doesNotThrow(() => bridge.notify('haptic'));
  const throwing = new BridgeClient({ post: () => { throw new Error('handler gone'); }, timers: manualTimers() });
  await assert.rejects(throwing.request('ready'), /handler gone/);
  assert.equal(throwing.pendingCount, 0);
});

test('haptic goes out without an id', () => {
  const { bridge, sent } = client();
  bridge.notify('haptic');
  assert.deepEqual(sent, [{ method: 'haptic', version: 1 }]);
  assert.equal(bridge.pendingCount, 0);
});

test('ids differ between two page loads', () => {
  const a = new BridgeClient({ post: () => {} });
  const b = new BridgeClient({ post: () => {} });
  assert.notEqual(a.idPrefix, b.idPrefix);
});

test('a fast-changing value sends the first and the last, one at a time', async () => {
  const sent = [];
  const answers = [];
  const sender = new LatestValueSender((v) => {
    sent.push(v);
    return new Promise((resolve) => answers.push(resolve));
  });
  for (const v of [52, 54, 56, 58]) sender.push(v);
  await new Promise((r) => setImmediate(r));
  assert.deepEqual(sent, [52]);
  answers.shift()();
  await new Promise((r) => setImmediate(r));
  assert.deepEqual(sent, [52, 58]);
  answers.shift()();
  await new Promise((r) => setImmediate(r));
  assert.deepEqual(sent, [52, 58]);
});

test('a failed send reports the error and still sends what was queued', async () => {
  const errors = [];
  const sent = [];
  const sender = new LatestValueSender((v) => {
    sent.push(v);
    return v === 1 ? Promise.reject(new Error('busy')) : Promise.resolve();
  }, (e) => errors.push(e.message));
  sender.push(1);
  sender.push(2);
  await new Promise((r) => setImmediate(r));
  await new Promise((r) => setImmediate(r));
  assert.deepEqual(sent, [1, 2]);
  assert.deepEqual(errors, ['busy']);
});
