// Clicks synthesised with WebAudio: the web view cannot play media files from the app's own
// scheme, and synthesis keeps every sound our own. Each sound is rendered once into a buffer.

const RATE = 44100;

function render(seconds, sample) {
  const data = new Float32Array(Math.ceil(seconds * RATE));
  let seed = 0x2545f491;
  const noise = () => {
    // xorshift: a fixed noise, so every click sounds the same
    seed ^= seed << 13;
    seed ^= seed >>> 17;
    seed ^= seed << 5;
    return ((seed >>> 0) / 0xffffffff) * 2 - 1;
  };
  for (let i = 0; i < data.length; i++) data[i] = sample(i / RATE, noise);
  return data;
}

// A dry plastic detent: a bright noise transient over a short resonant ping.
const TICK = (t, noise) =>
  0.55 * noise() * Math.exp(-t / 0.0009) + 0.35 * Math.sin(2 * Math.PI * 3100 * t) * Math.exp(-t / 0.0022);

// A button: the same idea, lower and a touch longer, with a second softer contact.
const PRESS = (t, noise) =>
  0.5 * noise() * Math.exp(-t / 0.0016) +
  0.4 * Math.sin(2 * Math.PI * 1650 * t) * Math.exp(-t / 0.004) +
  (t > 0.018 ? 0.18 * noise() * Math.exp(-(t - 0.018) / 0.0012) : 0);

// A knuckle on the case: low and muffled.
const KNOCK = (t, noise) =>
  0.5 * Math.sin(2 * Math.PI * 420 * t) * Math.exp(-t / 0.012) + 0.12 * noise() * Math.exp(-t / 0.002);

const SHAPES = { tick: [0.012, TICK, 0.22], press: [0.04, PRESS, 0.3], knock: [0.06, KNOCK, 0.35] };

// A running audio context keeps an audio thread busy even in silence: after this long without a
// click it is suspended, and the next click resumes it.
export const QUIET_SUSPEND_MS = 4000;

export class ClickSounds {
  constructor(win = globalThis, timers = globalThis) {
    this.win = win;
    this.timers = timers;
    this.context = null;
    this.buffers = null;
    this.failed = false;
    this.quietTimer = null;
  }

  #ready() {
    if (this.failed) return null;
    if (!this.context) {
      const Context = this.win.AudioContext || this.win.webkitAudioContext;
      if (!Context) {
        this.failed = true;
        return null;
      }
      try {
        this.context = new Context();
        this.buffers = {};
        for (const [name, [seconds, shape, gain]] of Object.entries(SHAPES)) {
          const data = render(seconds, shape);
          const buffer = this.context.createBuffer(1, data.length, RATE);
          buffer.getChannelData(0).set(data.map((v) => v * gain));
          this.buffers[name] = buffer;
        }
      } catch {
        this.failed = true;
        return null;
      }
    }
    if (this.context.state === 'suspended') this.context.resume().catch(() => {});
    this.timers.clearTimeout(this.quietTimer);
    this.quietTimer = this.timers.setTimeout(() => {
      this.quietTimer = null;
      if (this.context?.state === 'running') this.context.suspend().catch(() => {});
    }, QUIET_SUSPEND_MS);
    return this.context;
  }

  #play(name) {
    const context = this.#ready();
    if (!context) return;
    try {
      const source = context.createBufferSource();
      source.buffer = this.buffers[name];
      source.connect(context.destination);
      source.start();
    } catch {
      // A click that cannot play is no reason to stop the input that caused it.
    }
  }

  tick() {
    this.#play('tick');
  }

  press() {
    this.#play('press');
  }

  knock() {
    this.#play('knock');
  }
}
