import { test } from 'node:test';
import assert from 'node:assert/strict';
import { TICKER_PAUSE_MS, Ticker } from '../../../firmware/js/ticker.js';
import { fakeClock } from '../support/clock.js';

/** A line that, unless it `fits`, scrolls for `ms`; the log records what moved when. */
function line(name, { fits = false, ms = 1000 } = {}, clock, log) {
  return {
    name,
    fits,
    overflows() {
      return !this.fits;
    },
    scrollOnce(done) {
      log.push([clock.now(), name]);
      this.timer = clock.setTimeout(done, ms);
    },
    stop() {
      clock.clearTimeout(this.timer);
      log.push([clock.now(), `${name} stopped`]);
    },
  };
}

test('long lines take turns, one at a time, with a pause between; lines that fit are passed over', () => {
  const clock = fakeClock();
  const log = [];
  const [title, artist, album] = [line('title', { ms: 2000 }, clock, log), line('artist', { fits: true }, clock, log), line('album', {}, clock, log)];
  const ticker = new Ticker([title, artist, album], clock);
  ticker.start();
  clock.advance(TICKER_PAUSE_MS - 1);
  assert.deepEqual(log, [], 'nothing before the first pause');
  clock.advance(1 + 2000 + TICKER_PAUSE_MS + 1000 + TICKER_PAUSE_MS);
  const p = TICKER_PAUSE_MS;
  assert.deepEqual(log, [
    [p, 'title'],
    [p + 2000 + p, 'album'],
    [p + 2000 + p + 1000 + p, 'title'],
  ]);
  // Started again (new text), it begins with the first line after a pause; the running one stops.
  clock.advance(500);
  ticker.start();
  assert.deepEqual(log.at(-1)[1], 'title stopped');
  const restarted = clock.now();
  clock.advance(TICKER_PAUSE_MS);
  assert.deepEqual(log.at(-1), [restarted + TICKER_PAUSE_MS, 'title']);
});

test('when every line fits, the ticker rests with nothing left to run', () => {
  const clock = fakeClock();
  const log = [];
  const ticker = new Ticker([line('title', { fits: true }, clock, log), line('artist', { fits: true }, clock, log)], clock);
  ticker.start();
  assert.equal(ticker.active, true);
  clock.advance(TICKER_PAUSE_MS);
  assert.equal(ticker.active, false);
  assert.deepEqual(log, []);
  // A stop while a line scrolls ends it, and nothing runs after.
  const lone = line('lone', { ms: 5000 }, clock, log);
  const single = new Ticker([lone], clock);
  single.start();
  clock.advance(TICKER_PAUSE_MS + 100);
  single.stop();
  clock.advance(10 * TICKER_PAUSE_MS);
  assert.equal(single.active, false);
  assert.deepEqual(log.map(([, name]) => name), ['lone', 'lone stopped']);
});
