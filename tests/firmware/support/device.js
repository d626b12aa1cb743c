// Reading the device's state from a page, for the browser tests.

/** Messages the stand-in received, optionally only one method's. */
export async function sent(page, method) {
  const all = await page.evaluate(() => window.__standIn.sent);
  return method ? all.filter((m) => m.method === method) : all;
}

export async function waitForMessage(page, method, count = 1) {
  await page.waitForFunction(
    ([m, n]) => window.__standIn.sent.filter((s) => s.method === m).length >= n,
    [method, count],
  );
  const list = await sent(page, method);
  return list[count - 1];
}

/** What the current screen shows: title, row titles, the selected row's title. */
export async function screen(page) {
  return page.evaluate(() => {
    const pages = [...document.querySelectorAll('#pages .page')];
    const current = pages[pages.length - 1];
    const rows = [...current.querySelectorAll('.row:not([hidden])')].sort((a, b) => a.dataset.index - b.dataset.index);
    const selected = current.querySelector('.row.selected');
    return {
      title: document.getElementById('status-title').textContent,
      kind: current.dataset.kind,
      rows: rows.map((r) => r.querySelector('.row-title').textContent),
      values: rows.map((r) => r.querySelector('.row-value').textContent),
      selected: selected ? selected.querySelector('.row-title').textContent : null,
      selectedIndex: selected ? Number(selected.dataset.index) : null,
      loading: Boolean(current.querySelector('.loading:not([hidden])')),
      rowElements: current.querySelectorAll('.row').length,
    };
  });
}

/** Waits until the current screen has the title and is no longer loading. */
export async function waitForScreen(page, title) {
  await page.waitForFunction((t) => {
    const pages = [...document.querySelectorAll('#pages .page')];
    const current = pages[pages.length - 1];
    return document.getElementById('status-title').textContent === t && !current.querySelector('.loading:not([hidden])');
  }, title);
  return screen(page);
}

export async function toast(page) {
  return page.evaluate(() => {
    const el = document.getElementById('toast');
    return el.classList.contains('shown') ? el.textContent : null;
  });
}

/** Moves the selection to the row with this title using the arrow keys, then selects it. */
export async function choose(page, title) {
  for (let i = 0; i < 50; i++) {
    const s = await screen(page);
    if (s.selected === title) {
      await page.keyboard.press('Enter');
      return;
    }
    const target = s.rows.indexOf(title);
    await page.keyboard.press(target >= 0 && target < s.rows.indexOf(s.selected) ? 'ArrowUp' : 'ArrowDown');
  }
  throw new Error(`no row "${title}"`);
}

/** The wheel's centre and radius in page coordinates. */
export async function wheelBox(page) {
  return page.evaluate(() => {
    const r = document.getElementById('wheel').getBoundingClientRect();
    return { cx: r.left + r.width / 2, cy: r.top + r.height / 2, rx: r.width / 2, ry: r.height / 2 };
  });
}

/** A point on the wheel at `angle` degrees clockwise from the top and `radius` (1 = rim). */
export function wheelPoint(box, angle, radius) {
  const a = (angle * Math.PI) / 180;
  return { x: box.cx + Math.sin(a) * radius * box.rx, y: box.cy - Math.cos(a) * radius * box.ry };
}
