// Device geometry. The native window hit-tests the wheel with these same fractions, so the drawing
// and the native side agree on which clicks belong to the wheel and which drag the window.

export const DESIGN_WIDTH = 470;
export const DESIGN_HEIGHT = 770;

export const BODY_WIDTH_FRACTION = 0.8297872340425532;
export const BODY_HEIGHT_FRACTION = 0.8363428571428572;
export const WHEEL_CENTER_X = 0.5;
export const WHEEL_CENTER_Y = 0.6964334517627767;
export const WHEEL_RADIUS_X = 0.37948717948717947;
export const WHEEL_RADIUS_Y = 0.22981937439439487;

// Radius of the centre button as a fraction of the wheel's radius.
export const CENTER_BUTTON_FRACTION = 0.38;

/** Body and wheel in the coordinates of a window of the given size. */
export function deviceLayout(width, height) {
  const bodyWidth = width * BODY_WIDTH_FRACTION;
  const bodyHeight = height * BODY_HEIGHT_FRACTION;
  const body = {
    x: (width - bodyWidth) / 2,
    y: (height - bodyHeight) / 2,
    width: bodyWidth,
    height: bodyHeight,
  };
  const wheel = {
    cx: body.x + bodyWidth * WHEEL_CENTER_X,
    cy: body.y + bodyHeight * WHEEL_CENTER_Y,
    rx: bodyWidth * WHEEL_RADIUS_X,
    ry: bodyHeight * WHEEL_RADIUS_Y,
  };
  return { body, wheel };
}

/**
 * Where a point lies on the wheel: `radius` is 0 at the centre and 1 on the rim (the ellipse
 * normalised to a unit circle), `angle` is in degrees, 0 at the top, growing clockwise.
 */
export function wheelPolar(x, y, wheel) {
  const u = (x - wheel.cx) / wheel.rx;
  const v = (y - wheel.cy) / wheel.ry;
  const radius = Math.hypot(u, v);
  let angle = (Math.atan2(u, -v) * 180) / Math.PI;
  if (angle < 0) angle += 360;
  return { radius, angle };
}

/** Which part of the wheel a polar position falls on, or null outside it. */
export function wheelZone({ radius, angle }) {
  if (!(radius <= 1)) return null;
  if (radius <= CENTER_BUTTON_FRACTION) return 'center';
  if (angle >= 315 || angle < 45) return 'menu';
  if (angle < 135) return 'forward';
  if (angle < 225) return 'play';
  return 'back';
}
