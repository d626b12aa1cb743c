// Reads the pixels of the PNGs the browser's screenshots make (8-bit RGB or RGBA, not interlaced).

import { inflateSync } from 'node:zlib';

function paeth(a, b, c) {
  const p = a + b - c;
  const pa = Math.abs(p - a);
  const pb = Math.abs(p - b);
  const pc = Math.abs(p - c);
  return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

/** { width, height, pixel(x, y) -> [r, g, b, a] } of a PNG. */
export function decodePng(png) {
  const width = png.readUInt32BE(16);
  const height = png.readUInt32BE(20);
  const types = { 2: 3, 6: 4 }; // colour type -> bytes a pixel: RGB, RGBA
  const bpp = types[png[25]];
  if (png[24] !== 8 || !bpp || png[28] !== 0) throw new Error('not an 8-bit RGB or RGBA PNG');
  const chunks = [];
  for (let o = 8; o < png.length; ) {
    const length = png.readUInt32BE(o);
    if (png.toString('ascii', o + 4, o + 8) === 'IDAT') chunks.push(png.subarray(o + 8, o + 8 + length));
    o += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(chunks));
  const stride = width * bpp;
  const data = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const value = raw[y * (stride + 1) + 1 + x];
      const left = x >= bpp ? data[y * stride + x - bpp] : 0;
      const up = y > 0 ? data[(y - 1) * stride + x] : 0;
      const corner = x >= bpp && y > 0 ? data[(y - 1) * stride + x - bpp] : 0;
      const predicted = [0, left, up, (left + up) >> 1, paeth(left, up, corner)][filter];
      data[y * stride + x] = (value + predicted) & 0xff;
    }
  }
  const pixel = (x, y) => {
    const [r, g, b, a = 255] = data.subarray(y * stride + x * bpp, y * stride + (x + 1) * bpp);
    return [r, g, b, a];
  };
  return { width, height, pixel };
}

/** Relative luminance (0 to 1) of an sRGB colour given as 0–255 channels. */
export function luminance([r, g, b]) {
  const channel = (v) => {
    const c = v / 255;
    return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
  };
  return 0.2126 * channel(r) + 0.7152 * channel(g) + 0.0722 * channel(b);
}
