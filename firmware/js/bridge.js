// The firmware's side of the native bridge: every request gets a unique id and one promise, and
// the native side settles it later through resolve(id, payload).

export const BRIDGE_VERSION = 1;
// The native side answers every request within its own time limits (at most 65 s); a page that
// waits longer than this has lost its answer (a reset session), so the promise fails instead of
// leaking forever.
export const ANSWER_TIMEOUT_MS = 90_000;

export class NativeError extends Error {
  constructor(message, method) {
    super(message);
    this.name = 'NativeError';
    this.method = method;
  }
}

export const UNAVAILABLE_TEXT = 'Not connected to Wheelbox';

/**
 * `post(body)` delivers one message to the native handler, or is null when there is no native
 * side. `timers` is injected so tests can run the timeout without waiting.
 */
export class BridgeClient {
  constructor({ post, timers = globalThis, timeoutMs = ANSWER_TIMEOUT_MS, idPrefix } = {}) {
    this.post = post;
    this.timers = timers;
    this.timeoutMs = timeoutMs;
    this.pending = new Map();
    this.nextSerial = 1;
    // A per-page prefix keeps ids unique across reloads, so an answer meant for the page before a
    // reload can never settle a request of this one.
    this.idPrefix = idPrefix ?? `r${Math.floor(Math.random() * 0x100000000).toString(36)}-`;
  }

  get available() {
    return typeof this.post === 'function';
  }

  get pendingCount() {
    return this.pending.size;
  }

  /** Sends a request; resolves with its result, rejects with a NativeError carrying the text. */
  request(method, params = {}) {
    if (!this.available) return Promise.reject(new NativeError(UNAVAILABLE_TEXT, method));
    const id = `${this.idPrefix}${this.nextSerial++}`;
    return new Promise((resolve, reject) => {
      const timer = this.timers.setTimeout(() => {
        if (this.pending.delete(id)) reject(new NativeError(`No answer from Wheelbox: ${method}`, method));
      }, this.timeoutMs);
      this.pending.set(id, { method, resolve, reject, timer });
      try {
        this.post({ method, version: BRIDGE_VERSION, id, params });
      } catch (error) {
        this.#settle(id, { error: `${UNAVAILABLE_TEXT}: ${error?.message ?? error}` });
      }
    });
  }

  /** A message that wants no answer ("haptic"). Never throws. */
  notify(method, params) {
    if (!this.available) return;
    const body = { method, version: BRIDGE_VERSION };
    if (params !== undefined) body.params = params;
    try {
      this.post(body);
    } catch {
      // Nothing waits on a notification.
    }
  }

  /**
   * Called by the native side. Returns whether the id belonged to a waiting request. The payload
   * may also come as its JSON text: JavaScriptCore evaluates a large object literal (a list of
   * 100,000 rows) some twenty times slower than a string literal that is then parsed.
   */
  resolve(id, payload) {
    if (typeof payload === 'string') {
      try {
        payload = JSON.parse(payload);
      } catch {
        payload = { error: 'Malformed answer from Wheelbox' };
      }
    }
    return this.#settle(String(id), payload);
  }

  #settle(id, payload) {
    const entry = this.pending.get(id);
    if (!entry) return false;
    this.pending.delete(id);
    this.timers.clearTimeout(entry.timer);
    if (payload && typeof payload === 'object' && typeof payload.error === 'string') {
      entry.reject(new NativeError(payload.error, entry.method));
    } else {
      entry.resolve(payload && typeof payload === 'object' ? payload.result : undefined);
    }
    return true;
  }
}

/**
 * Sends only the latest value of a rapidly changing setting (the volume while the wheel turns):
 * one request in flight at a time, and whatever arrived meanwhile goes out when it settles.
 */
export class LatestValueSender {
  constructor(send, onError = () => {}) {
    this.send = send;
    this.onError = onError;
    this.inFlight = false;
    this.hasQueued = false;
    this.queued = undefined;
  }

  push(value) {
    if (this.inFlight) {
      this.queued = value;
      this.hasQueued = true;
      return;
    }
    this.inFlight = true;
    Promise.resolve()
      .then(() => this.send(value))
      .catch(this.onError)
      .finally(() => {
        this.inFlight = false;
        if (this.hasQueued) {
          this.hasQueued = false;
          this.push(this.queued);
        }
      });
  }
}
