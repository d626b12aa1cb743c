// Lines of text too long for their box take turns to scroll: after a pause the first such line
// scrolls to its end and back, then, after another pause, the next, and so on round. One line moves
// at a time, so the eye has one thing to follow; the others rest at their start, with an ellipsis.
// No DOM here: a line is anything with `overflows()` and `scrollOnce(done)`.

export const TICKER_PAUSE_MS = 1200; // before the first line scrolls, and between two turns

export class Ticker {
  /** `timers`: setTimeout/clearTimeout. */
  constructor(lines = [], timers = globalThis) {
    this.lines = lines;
    this.timers = timers;
    this.timer = null;
    this.running = null; // the line scrolling now
    this.next = 0;
  }

  get active() {
    return this.timer !== null || this.running !== null;
  }

  /** Starts over from the first line, after a pause. */
  start() {
    this.stop();
    this.next = 0;
    this.#wait();
  }

  /** Every line back at rest; nothing left to run. */
  stop() {
    this.timers.clearTimeout(this.timer);
    this.timer = null;
    const running = this.running;
    this.running = null;
    running?.stop?.();
  }

  #wait() {
    this.timer = this.timers.setTimeout(() => {
      this.timer = null;
      this.#turn();
    }, TICKER_PAUSE_MS);
  }

  // The next line that does not fit scrolls; when none does, the ticker rests until started again.
  #turn() {
    for (let tried = 0; tried < this.lines.length; tried++) {
      const index = (this.next + tried) % this.lines.length;
      const line = this.lines[index];
      if (!line?.overflows()) continue;
      this.next = index + 1;
      this.running = line;
      line.scrollOnce(() => {
        if (this.running !== line) return;
        this.running = null;
        this.#wait();
      });
      return;
    }
  }
}
