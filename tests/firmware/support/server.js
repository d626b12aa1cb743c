// A tiny static server for the firmware folder, on 127.0.0.1 and a port the system picks. It also
// stands in for the native side's cover cache: artwork/<16 hex digits>-<pixels> is a picture made
// here, of that many pixels, in a colour of its own; a key whose last digit is 0 has none (404).
// The answer waits `coverDelayMs` (settable while running), as a cover MPD still reads would.

import http from 'node:http';
import fs from 'node:fs/promises';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { encodePng } from './png.js';

export const FIRMWARE_ROOT = fileURLToPath(new URL('../../../firmware/', import.meta.url));

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.json': 'application/json',
  '.woff2': 'font/woff2',
};

const COVER = /^\/artwork\/([0-9A-F]{16})-([0-9]{1,4})$/;

// The cover of `key` at `pixels`: a diagonal of two colours drawn from the key, so covers differ.
function coverPicture(key, pixels) {
  const hue = parseInt(key.slice(-6), 16);
  const a = [(hue >> 16) & 0xff, (hue >> 8) & 0xff, hue & 0xff];
  const b = a.map((channel) => 255 - channel);
  return encodePng(pixels, pixels, (x, y) => (x + y < pixels ? a : b));
}

export async function startServer(root = FIRMWARE_ROOT) {
  const covers = { requests: [], coverDelayMs: 0 };
  const server = http.createServer(async (request, response) => {
    const url = new URL(request.url, 'http://127.0.0.1');
    const cover = COVER.exec(url.pathname);
    if (cover) {
      covers.requests.push(url.pathname);
      const [, key, pixels] = cover;
      if (covers.coverDelayMs > 0) await new Promise((resolve) => setTimeout(resolve, covers.coverDelayMs));
      if (key.endsWith('0') || Number(pixels) > 512) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'content-type': 'image/png', 'cache-control': 'no-store' });
      response.end(coverPicture(key, Number(pixels)));
      return;
    }
    const relative = decodeURIComponent(url.pathname === '/' ? '/index.html' : url.pathname);
    const file = path.join(root, path.normalize(relative));
    if (!file.startsWith(root)) {
      response.writeHead(403).end();
      return;
    }
    try {
      const body = await fs.readFile(file);
      response.writeHead(200, {
        'content-type': TYPES[path.extname(file)] ?? 'application/octet-stream',
        'cache-control': 'no-store',
      });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return { url: `http://127.0.0.1:${port}/`, covers, close: () => new Promise((resolve) => server.close(resolve)) };
}
