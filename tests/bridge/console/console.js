// Driving wheelbox-bridge from a test: a request body, a whole run with all input written at once,
// a session that writes as it goes and sees each line as it arrives, and a page that runs the
// lines. Every line is run as the page would run it, so a line that is not valid JavaScript, or
// not one line, fails the test that reads it.

import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import vm from 'node:vm';

/** One message body, as the firmware posts it. */
export const request = (method, id, params) => JSON.stringify({ method, version: 1, id, ...(params && { params }) });

/** The page's side of the bridge: runs lines and records what the functions received. */
export class Page {
  constructor() {
    this.calls = [];
    // Payloads are copied out of the context's realm, so they compare as plain objects.
    const copy = (value) => JSON.parse(JSON.stringify(value));
    const record = (call) => this.calls.push({ ...call, at: performance.now() });
    const veltoNative = {
      resolve: (id, payload) => record({ call: 'resolve', id, payload: copy(payload) }),
      nowPlaying: (payload) => record({ call: 'nowPlaying', payload: copy(payload) }),
      battery: (payload) => record({ call: 'battery', payload: copy(payload) }),
    };
    this.context = vm.createContext({ window: { veltoNative } });
  }

  run(line) {
    vm.runInContext(line, this.context);
  }
}

/** Runs every output line on a fresh page; returns what its functions received, in order. */
export function evaluate(lines) {
  const page = new Page();
  for (const line of lines) page.run(line);
  return page.calls.map(({ at, ...call }) => call);
}

export const answers = (calls) => calls.filter((c) => c.call === 'resolve');

function decodeOutput(chunks) {
  // Output must be valid UTF-8 whatever the back end's strings held.
  const output = new TextDecoder('utf-8', { fatal: true }).decode(Buffer.concat(chunks));
  const lines = output.split('\n');
  assert.equal(lines.pop(), '', 'the output ends with a line break');
  return lines;
}

/** Runs `program` with `input` on standard input (all written at once), to its exit. */
export function runConsole(program, input, { args = [], env, timeoutMs = 60_000 } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'], env });
    const stdout = [];
    const stderr = [];
    const timer = setTimeout(() => {
      child.kill('SIGKILL');
      reject(new Error('wheelbox-bridge did not end'));
    }, timeoutMs);
    child.stdout.on('data', (chunk) => stdout.push(chunk));
    child.stderr.on('data', (chunk) => stderr.push(chunk));
    child.on('error', reject);
    child.on('close', (status) => {
      clearTimeout(timer);
      try {
        const effects = Buffer.concat(stderr).toString('utf8').split('\n').filter(Boolean);
        resolve({ status, lines: decodeOutput(stdout), effects });
      } catch (error) {
        reject(error);
      }
    });
    child.stdin.end(typeof input === 'string' ? input : input.map((line) => `${line}\n`).join(''));
  });
}

/**
 * A console that runs while the test writes to it: each output line is run on a page as soon as
 * it arrives, so the test can wait for an answer or a push and knows when it came.
 */
export class ConsoleSession {
  constructor(program, { args = [], env, uid, gid } = {}) {
    this.page = new Page();
    this.lines = [];
    this.effects = [];
    this.waiters = [];
    this.child = spawn(program, args, { stdio: ['pipe', 'pipe', 'pipe'], env, uid, gid });
    this.pid = this.child.pid;
    let pending = Buffer.alloc(0);
    this.child.stdout.on('data', (chunk) => {
      pending = Buffer.concat([pending, chunk]);
      let end;
      while ((end = pending.indexOf(10)) >= 0) {
        const line = new TextDecoder('utf-8', { fatal: true }).decode(pending.subarray(0, end));
        pending = pending.subarray(end + 1);
        this.lines.push(line);
        try {
          this.page.run(line);
        } catch (error) {
          this.failure ??= new Error(`not one line of JavaScript: ${line.slice(0, 200)}: ${error.message}`);
        }
      }
      this.wake();
    });
    this.child.stderr.on('data', (chunk) => this.effects.push(chunk.toString('utf8')));
    this.exited = new Promise((resolve) => this.child.on('close', (status) => resolve(status)));
    this.exited.then(() => {
      this.closed = true;
      this.wake();
    });
  }

  get calls() {
    return this.page.calls;
  }

  write(lines) {
    this.child.stdin.write(lines.map((line) => `${line}\n`).join(''));
  }

  wake() {
    this.waiters = this.waiters.filter((check) => !check());
  }

  /** The first call, at or after index `from`, that `matches`; fails after `timeoutMs`. */
  waitFor(matches, { from = 0, timeoutMs = 60_000, what = 'the awaited call' } = {}) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        done();
        reject(new Error(`${what} did not arrive within ${timeoutMs} ms`));
      }, timeoutMs);
      const check = () => {
        if (this.failure) {
          clearTimeout(timer);
          reject(this.failure);
          return true;
        }
        const index = this.calls.findIndex((call, i) => i >= from && matches(call));
        if (index >= 0) {
          clearTimeout(timer);
          resolve({ ...this.calls[index], index });
          return true;
        }
        if (this.closed) {
          clearTimeout(timer);
          reject(new Error(`wheelbox-bridge ended before ${what}`));
          return true;
        }
        return false;
      };
      const done = () => {
        this.waiters = this.waiters.filter((c) => c !== check);
      };
      if (!check()) this.waiters.push(check);
    });
  }

  answer(id, options = {}) {
    return this.waitFor((c) => c.call === 'resolve' && c.id === id, { what: `the answer to ${id}`, ...options });
  }

  /** Ends the input and waits for the console to answer everything and exit. */
  async close(timeoutMs = 60_000) {
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGKILL'), timeoutMs);
    const status = await this.exited;
    clearTimeout(timer);
    if (this.failure) throw this.failure;
    return status;
  }
}
