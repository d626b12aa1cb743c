import { test } from 'node:test';
import assert from 'node:assert/strict';
import { deviceLayout, wheelPolar, wheelZone, CENTER_BUTTON_FRACTION } from '../../../firmware/js/geometry.js';

const SIZES = [
  [470, 770],
  [352.5, 577.5],
  [235, 385],
  [164.5, 269.5],
];

test('the body is centred and the wheel is a circle at every device size', () => {
  for (const [width, height] of SIZES) {
    const { body, wheel } = deviceLayout(width, height);
    assert.ok(Math.abs(body.x * 2 + body.width - width) < 1e-9, `${width}: centred horizontally`);
    assert.ok(Math.abs(body.y * 2 + body.height - height) < 1e-9, `${width}: centred vertically`);
    assert.ok(Math.abs(wheel.rx - wheel.ry) / wheel.rx < 2e-5, `${width}: rx ${wheel.rx} ry ${wheel.ry}`);
    // The wheel stays inside the body, below the screen.
    assert.ok(wheel.cx - wheel.rx > body.x && wheel.cx + wheel.rx < body.x + body.width);
    assert.ok(wheel.cy + wheel.ry < body.y + body.height);
  }
});

test('points map to the wheel part under them', () => {
  const { wheel } = deviceLayout(470, 770);
  const at = (angleDegrees, radius) => {
    const a = (angleDegrees * Math.PI) / 180;
    return [wheel.cx + Math.sin(a) * radius * wheel.rx, wheel.cy - Math.cos(a) * radius * wheel.ry];
  };
  const cases = [
    [0, 0, 'center'],
    [200, CENTER_BUTTON_FRACTION * 0.99, 'center'],
    [0, 0.8, 'menu'],
    [44, 0.8, 'menu'],
    [46, 0.8, 'forward'],
    [90, 0.8, 'forward'],
    [180, 0.8, 'play'],
    [270, 0.8, 'back'],
    [330, 0.8, 'menu'],
    [90, 0.999, 'forward'],
    [90, 1.01, null],
    [45, 1.2, null],
  ];
  for (const [angle, radius, zone] of cases) {
    const [x, y] = at(angle, radius);
    assert.equal(wheelZone(wheelPolar(x, y, wheel)), zone, `angle ${angle}, radius ${radius}`);
  }
});

test('angles grow clockwise from the top', () => {
  const wheel = { cx: 0, cy: 0, rx: 10, ry: 10 };
  const cases = [
    [0, -5, 0],
    [5, 0, 90],
    [0, 5, 180],
    [-5, 0, 270],
  ];
  for (const [x, y, angle] of cases) assert.ok(Math.abs(wheelPolar(x, y, wheel).angle - angle) < 1e-9, `${x},${y}`);
});
