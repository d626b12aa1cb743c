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
// A cover found missing is asked for again after this long, on a row that shows it: the native
// side also answers "missing" when MPD did not answer in time, and one it knows has none answers
// at once from its cache.
export const MISSING_RETRY_MS = 60_000;

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

/** A map that forgets its oldest entries past `limit`. */
class RecentMap {
  constructor(limit) {
    this.limit = limit;
    this.entries = new Map();
  }

  has(key) {
    return this.entries.has(key);
  }

  get(key) {
    return this.entries.get(key);
  }

  set(key, value = true) {
    this.entries.delete(key);
    this.entries.set(key, value);
    if (this.entries.size > this.limit) this.entries.delete(this.entries.keys().next().value);
  }

  delete(key) {
    this.entries.delete(key);
  }
}

/**
 * Row covers: which have loaded (a row shows those at once, even while the wheel spins), which
 * are missing (asked again only after MISSING_RETRY_MS), and loading the rest once the list rests.
 * `makeImage()` gives an object with onload, onerror and src, as `new Image()` does; `now()` is in
 * milliseconds.
 */
export class RowArtwork {
  constructor({ makeImage = () => new Image(), limit = REMEMBERED_COVERS, now = () => performance.now() } = {}) {
    this.makeImage = makeImage;
    this.now = now;
    this.loaded = new RecentMap(limit);
    this.missing = new RecentMap(limit); // path -> when it was found missing
    this.loading = new Map(); // path -> image
  }

  isLoaded(path) {
    return this.loaded.has(path);
  }

  /** Loads each of `paths` not yet known; `arrived(path)` runs once one has loaded. */
  load(paths, arrived) {
    for (const path of paths) {
      if (!path || this.loaded.has(path) || this.loading.has(path)) continue;
      if (this.missing.has(path) && this.now() - this.missing.get(path) < MISSING_RETRY_MS) continue;
      this.missing.delete(path);
      const image = this.makeImage();
      this.loading.set(path, image);
      image.onload = () => {
        this.loading.delete(path);
        this.loaded.set(path);
        arrived(path);
      };
      image.onerror = () => {
        this.loading.delete(path);
        this.missing.set(path, this.now());
      };
      image.src = path;
    }
  }
}
