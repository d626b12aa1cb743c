// Turning the wheel: pointer angles become whole steps, and fast sustained spinning in a long list
// moves further per step so the far end of a large library stays reachable.

export const STEP_DEGREES = 15; // 24 clicks per turn
// A drag shorter than this is still a press of the ring button under the finger.
export const ROTATION_THRESHOLD_DEGREES = 9;

/** Signed shortest difference between two angles in degrees, in (-180, 180]. */
export function angleDelta(from, to) {
  let d = (to - from) % 360;
  if (d > 180) d -= 360;
  if (d <= -180) d += 360;
  return d;
}

/** Follows one drag around the ring and reports whole steps (clockwise positive). */
export class WheelTracker {
  constructor(stepDegrees = STEP_DEGREES) {
    this.stepDegrees = stepDegrees;
    this.reset(0);
  }

  reset(angle) {
    this.lastAngle = angle;
    this.pending = 0; // degrees turned but not yet reported as a step
    this.travelled = 0; // total unsigned degrees, to tell a turn from a press
  }

  /** Takes up the drag again at `angle` without counting the way there as a turn. */
  resync(angle) {
    this.lastAngle = angle;
  }

  /** Feeds the pointer's new angle; returns the number of steps to take now. */
  move(angle) {
    const d = angleDelta(this.lastAngle, angle);
    this.lastAngle = angle;
    this.travelled += Math.abs(d);
    this.pending += d;
    const steps = Math.trunc(this.pending / this.stepDegrees);
    this.pending -= steps * this.stepDegrees;
    return steps;
  }

  get isTurning() {
    return this.travelled >= ROTATION_THRESHOLD_DEGREES;
  }
}

// Steps closer together than this count as one continuous spin.
export const FAST_STEP_MS = 90;
// Lists shorter than this never accelerate: every row stays one click away.
export const ACCELERATION_MIN_ROWS = 100;

/**
 * Rows per step for a spin: 1 at first, doubling every 10 consecutive fast steps, never more than
 * 1% of the list, so a full-speed spin crosses any list in a couple of seconds while one slow
 * click always moves one row.
 */
export function accelerationFactor(fastSteps, rowCount) {
  if (rowCount < ACCELERATION_MIN_ROWS || fastSteps < 10) return 1;
  const cap = Math.max(1, Math.floor(rowCount / 100));
  return Math.min(cap, 2 ** Math.floor(fastSteps / 10));
}

/** Keeps the spin's momentum across steps. `now` is in milliseconds. */
export class Accelerator {
  constructor() {
    this.fastSteps = 0;
    this.lastTime = -Infinity;
    this.lastDirection = 0;
  }

  /** Rows to move for one step in `direction` (±1) at time `now` in a list of `rowCount` rows. */
  step(direction, now, rowCount) {
    const fast = now - this.lastTime <= FAST_STEP_MS && direction === this.lastDirection;
    this.fastSteps = fast ? this.fastSteps + 1 : 0;
    this.lastTime = now;
    this.lastDirection = direction;
    return direction * accelerationFactor(this.fastSteps, rowCount);
  }

  reset() {
    this.fastSteps = 0;
    this.lastTime = -Infinity;
  }
}
