// The firmware's part of a device resize. The native side shrinks by snapshot: the firmware first
// shrinks the device in place (resizeOut), the window then changes size under a still picture, and
// the firmware finally settles the device where the window put it (resizeJumped, resizeGo). The
// viewport change itself arrives as an ordinary resize event, in any order relative to the calls.

export const SHRINK_MS = 180;
export const SETTLE_MS = 220;
// A grow normally ends with resizeGo; when the native side sends none (no snapshot was taken) the
// device must still reach its full size.
export const GROW_FALLBACK_MS = 1200;

const IDENTITY = Object.freeze({ scale: 1, x: 0, y: 0 });

/**
 * Pure state of the resize motion: the transform to show and how long to animate to it. The DOM
 * layer applies `transform` whenever a method returns true.
 */
export class ResizeMotion {
  constructor() {
    this.transform = { ...IDENTITY };
    this.duration = 0;
    this.awaitingGo = false;
  }

  #set(transform, duration) {
    this.transform = { ...this.transform, ...transform };
    this.duration = duration;
    return true;
  }

  /**
   * Shrink in place to `ratio` of the current size before the window follows. A new resize
   * supersedes an unfinished one, whose resizeGo will never come: its offset glides home too.
   */
  out(ratio) {
    const scale = Number.isFinite(ratio) && ratio > 0 ? Math.min(1, ratio) : 1;
    this.awaitingGo = false;
    return this.#set({ scale, x: 0, y: 0 }, SHRINK_MS);
  }

  /** The viewport changed from `oldWidth` to `newWidth`. */
  viewportChanged(oldWidth, newWidth) {
    if (!(oldWidth > 0 && newWidth > 0) || Math.abs(oldWidth - newWidth) <= 0.5) return false;
    if (newWidth < oldWidth) {
      // The shrink already happened in place; the new viewport is that size.
      return this.#set({ scale: 1 }, 0);
    }
    // Growing: keep showing the old size until resizeGo, so the hand-over from the still picture
    // is seamless.
    this.awaitingGo = true;
    return this.#set({ scale: oldWidth / newWidth }, 0);
  }

  /** The window's centre moved by (dx, dy) screen points, y down: stay where the picture was. */
  jumped(dx, dy) {
    const x = Number.isFinite(dx) ? dx : 0;
    const y = Number.isFinite(dy) ? dy : 0;
    this.awaitingGo = true;
    return this.#set({ x, y }, 0);
  }

  /** Glide to the device's place and full size. */
  go() {
    this.awaitingGo = false;
    return this.#set(IDENTITY, SETTLE_MS);
  }

  /** Drop any motion at once. */
  reset() {
    this.awaitingGo = false;
    return this.#set(IDENTITY, 0);
  }

  get isIdentity() {
    const t = this.transform;
    return t.scale === 1 && t.x === 0 && t.y === 0;
  }
}
