// Debian's Chromium driven by playwright-core, with a throw-away profile.

import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { chromium } from 'playwright-core';
import { startServer } from './server.js';
import { installStandIn } from './standin.js';

export const CHROMIUM = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
const ARGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// Counts what the page asks to run: animation frames and timers (window.__frames, __timeouts).
function countFrames() {
  window.__frames = 0;
  window.__timeouts = 0;
  const request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => {
    window.__frames++;
    return request(callback);
  };
  const set = window.setTimeout.bind(window);
  window.setTimeout = (...args) => {
    window.__timeouts++;
    return set(...args);
  };
}

// The page's storage says whether the first start's hint was seen; a first start is forgotten
// once, so a reload of the page is a second start.
function seenHint(seen) {
  if (seen) localStorage.setItem('wheelbox.menuHint', 'seen');
  else if (!sessionStorage.getItem('test.started')) {
    localStorage.removeItem('wheelbox.menuHint');
    sessionStorage.setItem('test.started', '1');
  }
}

export const SIZES = {
  large: { width: 470, height: 770 },
  medium: { width: 353, height: 578 },
  small: { width: 235, height: 385 },
  tiny: { width: 165, height: 270 },
};

/** Starts the server and the browser; `close()` stops both and removes the profile. */
export async function startBrowser() {
  const server = await startServer();
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'wheelbox-chromium-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: true,
    args: ARGS,
    viewport: SIZES.large,
  });
  return {
    server,
    context,
    /**
     * A page with the firmware loaded over the stand-in native side (`clock`: Playwright's clock).
     * The first start's hint counts as seen unless `firstStart`.
     */
    async open({ size = SIZES.large, standIn = {}, native = true, clock = false, firstStart = false } = {}) {
      const page = await context.newPage();
      const errors = [];
      page.on('pageerror', (error) => errors.push(error));
      await page.setViewportSize(size);
      if (clock) await page.clock.install();
      await page.addInitScript(countFrames);
      await page.addInitScript(seenHint, !firstStart);
      if (native) await installStandIn(page, standIn);
      await page.goto(server.url);
      await page.waitForFunction(() => document.getElementById('stage')?.classList.contains('ready'));
      page.errors = errors;
      return page;
    },
    async close() {
      await context.close();
      await server.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}
