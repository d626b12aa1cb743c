// Wires the firmware together and publishes the globals the native side calls.

import { App } from './app.js';
import { BridgeClient } from './bridge.js';
import { attachInput } from './input.js';
import { GROW_FALLBACK_MS, ResizeMotion, SHRINK_MS } from './resize.js';
import { ClickSounds } from './sound.js';
import { pageStorage } from './storage.js';
import { DeviceView } from './view.js';

const handler = window.webkit?.messageHandlers?.velto;
const bridge = new BridgeClient({
  post: handler && typeof handler.postMessage === 'function' ? (body) => handler.postMessage(body) : null,
});

const view = new DeviceView(document);
const sound = new ClickSounds(window);
const app = new App({ bridge, view, sound, prefs: pageStorage(window) });

window.veltoNative = {
  resolve: (id, payload) => bridge.resolve(id, payload),
  nowPlaying: (state) => app.nowPlaying(state),
  battery: (reading) => app.setBattery(reading),
};

// --- appearance and the resize hand-over ------------------------------------------------------

const amount = (value) => (Number.isFinite(Number(value)) ? Math.min(2, Math.max(0, Number(value))) : 1);

const motion = new ResizeMotion();
let viewportWidth = window.innerWidth;
let pendingOut = null; // resolves the promise of the running resizeOut
let growFallback = null;
// How much later than its own length a shrink may end before resizeOut settles anyway.
const SHRINK_DEADLINE_MS = 400;

function settleOut() {
  if (!pendingOut) return;
  const done = pendingOut;
  pendingOut = null;
  done();
}

function show() {
  view.applyMotion(motion);
  clearTimeout(growFallback);
  if (motion.awaitingGo) {
    growFallback = setTimeout(() => {
      if (!motion.awaitingGo) return;
      motion.go();
      show();
    }, GROW_FALLBACK_MS);
  }
}

window.addEventListener('resize', () => {
  const width = window.innerWidth;
  const changed = motion.viewportChanged(viewportWidth, width);
  viewportWidth = width;
  view.layout();
  if (changed) {
    settleOut();
    show();
  }
});

window.veltoFirmware = {
  setGlare: (value) => view.setGlare(amount(value)),
  setShadow: (value) => view.setShadow(amount(value)),
  setHold: (on) => app.setHold(on === true),
  resizeOut(ratio) {
    settleOut();
    motion.out(Number(ratio));
    show();
    // The native side shrinks the window once this settles, so it settles when the shrink has
    // been drawn to its end: on a busy machine the transition runs later than its clock says. A
    // shrink that draws nothing (ratio 1, a hidden page) settles by the deadline.
    return new Promise((resolve) => {
      pendingOut = resolve;
      const stage = view.stage;
      const finish = () => {
        stage.removeEventListener('transitionend', ended);
        clearTimeout(deadline);
        if (pendingOut === resolve) settleOut();
      };
      const ended = (event) => {
        if (event.target === stage && event.propertyName === 'transform') finish();
      };
      stage.addEventListener('transitionend', ended);
      const deadline = setTimeout(finish, SHRINK_MS + SHRINK_DEADLINE_MS);
    });
  },
  resizeReset() {
    settleOut();
    motion.reset();
    show();
  },
  resizeJumped(dx, dy) {
    motion.jumped(Number(dx), Number(dy));
    show();
  },
  resizeGo() {
    motion.go();
    show();
  },
};

window.veltoChassisClick = () => {
  app.chassisClick();
};

view.setGlare(1);
view.setShadow(1);
view.attach(app);
attachInput({ app, view, wheel: document.getElementById('wheel') });
app.start();
