// Album covers. The native side names each by an address under velto://app/artwork/, an entry of
// its cache; the page loads it relative to itself (in the app that is the same address) and takes
// nothing else for a cover. No DOM here but an Image made by the caller's factory.

const ADDRESS = /^velto:\/\/app\/artwork\/([0-9A-F]{16}-[0-9]{1,4})$/;

// How long a list must rest after a step before covers it has not shown yet are asked for: a
// spinning wheel never waits on a picture, and rows it only passes are not read.
export const ROW_ART_REST_MS = 150;
// A cover loaded this long after its song's text changed fades in; one loaded sooner came with it.
export const COVER_LATE_MS = 120;
// The covers remembered as loaded, and as missing, at most.
export const REMEMBERED_COVERS = 400;

/** Where the page loads a cover from, or null for anything that is not a cover's address. */
export function artworkPath(address) {
  if (typeof address !== 'string') return null;
  const match = ADDRESS.exec(address);
  return match ? `artwork/${match[1]}` : null;
}

/** Whether any row of a list has a cover: such a list gives every row room for one. */
export function listHasArtwork(items) {
  return Array.isArray(items) && items.some((item) => artworkPath(item?.artwork) !== null);
}

/** A set that forgets its oldest entries past `limit`. */
class RecentSet {
  constructor(limit) {
    this.limit = limit;
    this.entries = new Set();
  }

  has(key) {
    return this.entries.has(key);
  }

  add(key) {
    this.entries.delete(key);
    this.entries.add(key);
    if (this.entries.size > this.limit) this.entries.delete(this.entries.values().next().value);
  }
}

/**
 * Row covers: which have loaded (a row shows those at once, even while the wheel spins), which
 * are missing (never asked again this session), and loading the rest once the list rests.
 * `makeImage()` gives an object with onload, onerror and src, as `new Image()` does.
 */
export class RowArtwork {
  constructor({ makeImage = () => new Image(), limit = REMEMBERED_COVERS } = {}) {
    this.makeImage = makeImage;
    this.loaded = new RecentSet(limit);
    this.missing = new RecentSet(limit);
    this.loading = new Map(); // path -> image
  }

  isLoaded(path) {
    return this.loaded.has(path);
  }

  /** Loads each of `paths` not yet known; `arrived(path)` runs once one has loaded. */
  load(paths, arrived) {
    for (const path of paths) {
      if (!path || this.loaded.has(path) || this.missing.has(path) || this.loading.has(path)) continue;
      const image = this.makeImage();
      this.loading.set(path, image);
      image.onload = () => {
        this.loading.delete(path);
        this.loaded.add(path);
        arrived(path);
      };
      image.onerror = () => {
        this.loading.delete(path);
        this.missing.add(path);
      };
      image.src = path;
    }
  }
}
