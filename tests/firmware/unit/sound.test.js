import { test } from 'node:test';
import assert from 'node:assert/strict';
import { fakeClock } from '../support/clock.js';
import { ClickSounds, QUIET_SUSPEND_MS } from '../../../firmware/js/sound.js';

// A stand-in for WebAudio that keeps what was rendered and played.
function fakeAudio({ state = 'running' } = {}) {
  const played = [];
  const buffers = [];
  let resumed = 0;
  let suspended = 0;
  class Context {
    constructor() {
      this.state = state;
      this.destination = {};
    }
    resume() {
      resumed++;
      this.state = 'running';
      return Promise.resolve();
    }
    suspend() {
      suspended++;
      this.state = 'suspended';
      return Promise.resolve();
    }
    createBuffer(channels, length, rate) {
      const data = new Float32Array(length);
      const buffer = { channels, length, rate, getChannelData: () => data };
      buffers.push(buffer);
      return buffer;
    }
    createBufferSource() {
      const source = { connect() {}, start: () => played.push(source.buffer) };
      return source;
    }
  }
  return { win: { AudioContext: Context }, played, buffers, resumed: () => resumed, suspended: () => suspended };
}


test('each sound is rendered once, audible and without clipping, and played per call', () => {
  const audio = fakeAudio({ state: 'suspended' });
  const sounds = new ClickSounds(audio.win, fakeClock());
  sounds.tick();
  sounds.tick();
  sounds.press();
  sounds.knock();
  assert.equal(audio.buffers.length, 3);
  assert.equal(audio.played.length, 4);
  assert.equal(audio.played[0], audio.played[1], 'the same tick buffer is reused');
  assert.equal(audio.resumed(), 1, 'a suspended context is resumed once');
  for (const buffer of audio.buffers) {
    const data = buffer.getChannelData(0);
    const peak = data.reduce((m, v) => Math.max(m, Math.abs(v)), 0);
    assert.ok(peak > 0.05 && peak <= 1, `peak ${peak}`);
    assert.ok(Math.abs(data[data.length - 1]) < 0.01, 'the click has died away by its end');
  }
});

test('no audio, or audio that fails, never stops the input that asked for a click', () => {
  const worlds = [
    {},
    { AudioContext: class { constructor() { throw new Error('no device'); } } },
    { AudioContext: class { createBuffer() { throw new Error('bad'); } } },
  ];
  for (const win of worlds) {
    const sounds = new ClickSounds(win, fakeClock());
    assert.doesNotThrow(() => {
      sounds.tick();
      sounds.press();
    });
  }
});

test('a quiet spell suspends the audio context, so silence costs nothing; the next click resumes it', () => {
  const audio = fakeAudio();
  const timers = fakeClock();
  const sounds = new ClickSounds(audio.win, timers);
  sounds.tick();
  timers.advance(QUIET_SUSPEND_MS - 1);
  sounds.tick(); // clicks keep it running
  timers.advance(QUIET_SUSPEND_MS - 1);
  assert.equal(audio.suspended(), 0);
  timers.advance(1);
  assert.equal(audio.suspended(), 1);
  sounds.press();
  assert.equal(audio.resumed(), 1);
  assert.equal(audio.played.length, 3);
});
