// The visible part of a list: which row is selected, which rows are drawn, and where the scroll
// thumb sits. Only the visible rows ever become DOM, so a list's length costs nothing to show.

export const MIN_THUMB = 10; // px; keeps the thumb grabbable by eye in the longest lists

export class ListWindow {
  constructor(count = 0, visibleRows = 6, selected = 0) {
    this.count = count;
    this.visibleRows = Math.max(1, visibleRows);
    this.selected = 0;
    this.top = 0;
    this.select(selected);
  }

  /** Moves the selection by `delta` rows, stopping at either end; returns whether it moved. */
  move(delta) {
    return this.select(this.selected + delta);
  }

  select(index) {
    const before = this.selected;
    this.selected = this.count === 0 ? 0 : Math.min(this.count - 1, Math.max(0, Math.trunc(index)));
    this.#reveal();
    return this.selected !== before;
  }

  /** The screen shows `rows` rows now (another device size): keeps the selection in view. */
  setVisibleRows(rows) {
    this.visibleRows = Math.max(1, Math.trunc(rows) || 1);
    this.#reveal();
  }

  setCount(count) {
    this.count = Math.max(0, count);
    this.select(this.selected);
  }

  // Scrolls only as far as needed to keep the selection in view, like a paper list under a window.
  #reveal() {
    if (this.selected < this.top) this.top = this.selected;
    else if (this.selected >= this.top + this.visibleRows) this.top = this.selected - this.visibleRows + 1;
    const maxTop = Math.max(0, this.count - this.visibleRows);
    this.top = Math.min(maxTop, Math.max(0, this.top));
  }

  /** Indices [start, end) of the rows to draw. */
  get range() {
    return { start: this.top, end: Math.min(this.count, this.top + this.visibleRows) };
  }

  get scrollable() {
    return this.count > this.visibleRows;
  }

  /** Thumb position and size in px for a track of `trackHeight` px; null when all rows fit. */
  thumb(trackHeight) {
    if (!this.scrollable) return null;
    const height = Math.min(trackHeight, Math.max(MIN_THUMB, (trackHeight * this.visibleRows) / this.count));
    const maxTop = this.count - this.visibleRows;
    return { top: ((trackHeight - height) * this.top) / maxTop, height };
  }
}
