// The firmware's own settings (the body colour), kept in the page's storage. Storage may be
// missing, refused (a locked-down profile throws on mere access) or full: the device then simply
// forgets, it never fails.

const PREFIX = 'wheelbox.';

export function pageStorage(win = globalThis) {
  const store = () => {
    try {
      return win.localStorage ?? null;
    } catch {
      return null;
    }
  };
  return {
    get(key) {
      try {
        return store()?.getItem(PREFIX + key) ?? null;
      } catch {
        return null;
      }
    },
    set(key, value) {
      try {
        store()?.setItem(PREFIX + key, String(value));
        return true;
      } catch {
        return false;
      }
    },
  };
}
