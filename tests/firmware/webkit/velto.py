"""A WebKitGTK web view that serves a firmware folder over the "velto" scheme and receives the
"velto" messages, the way the app does. Shared by the smoke test and the idle measurement."""

import json
import os
import re

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("GdkPixbuf", "2.0")
gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import Gdk, GdkPixbuf, Gio, GLib, Gtk, WebKit2  # noqa: E402

TYPES = {
    ".html": "text/html",
    ".css": "text/css",
    ".js": "text/javascript",
    ".svg": "image/svg+xml",
    ".json": "application/json",
    ".woff2": "font/woff2",
    ".woff": "font/woff",
}

# The native side's cover entries, velto://app/artwork/<16 hex digits>-<pixels>: a picture made here,
# of that many pixels, in colours drawn from the key; a key whose last digit is 0 has none.
COVER = re.compile(r"^artwork/([0-9A-F]{16})-([0-9]{1,4})$")

# Collects every uncaught error and rejection of the page, to be read back at the end.
ERROR_TRAP = (
    "window.__errors = [];"
    "addEventListener('error', (e) => window.__errors.push(String(e.message)));"
    "addEventListener('unhandledrejection', (e) => window.__errors.push('rejection: ' + String(e.reason)));"
)

# Counts the animation frames the page asks for, so an idle page can be shown to ask for none.
FRAME_COUNTER = (
    "window.__frames = 0;"
    "{ const request = window.requestAnimationFrame.bind(window);"
    "  window.requestAnimationFrame = (callback) => { window.__frames++; return request(callback); }; }"
)


class VeltoView:
    """One window with one web view. `on_message(body)` receives each posted message."""

    def __init__(self, root, on_message, width=470, height=770, scripts=(), ephemeral=False):
        self.root = os.path.realpath(root)
        self.requests = []
        self.on_message = on_message
        # An ephemeral context keeps the page's storage (the firmware's own settings) to itself.
        context = WebKit2.WebContext.new_ephemeral() if ephemeral else WebKit2.WebContext.new()
        context.register_uri_scheme("velto", self._serve)
        self.manager = WebKit2.UserContentManager()
        self.manager.register_script_message_handler("velto")
        for source in (ERROR_TRAP, FRAME_COUNTER, *scripts):
            self.manager.add_script(
                WebKit2.UserScript.new(
                    source,
                    WebKit2.UserContentInjectedFrames.TOP_FRAME,
                    WebKit2.UserScriptInjectionTime.START,
                    None,
                    None,
                )
            )
        self.manager.connect("script-message-received::velto", self._received)
        self.view = WebKit2.WebView(web_context=context, user_content_manager=self.manager)
        transparent = Gdk.RGBA()
        transparent.parse("rgba(0,0,0,0)")
        self.view.set_background_color(transparent)
        self.window = Gtk.Window()
        self.window.set_default_size(width, height)
        self.window.add(self.view)

    def load(self):
        self.window.show_all()
        self.view.load_uri("velto://app/index.html")

    def _serve(self, request):
        relative = request.get_path().lstrip("/")
        path = os.path.realpath(os.path.join(self.root, relative))
        self.requests.append(relative)
        cover = COVER.match(relative)
        if cover:
            self._serve_cover(request, cover.group(1), int(cover.group(2)))
            return
        if not relative or not path.startswith(self.root + os.sep) or not os.path.isfile(path):
            request.finish_error(GLib.Error.new_literal(Gio.io_error_quark(), "not found", Gio.IOErrorEnum.NOT_FOUND))
            return
        with open(path, "rb") as f:
            data = f.read()
        stream = Gio.MemoryInputStream.new_from_bytes(GLib.Bytes.new(data))
        response = WebKit2.URISchemeResponse.new(stream, len(data))
        mime = TYPES.get(os.path.splitext(path)[1], "application/octet-stream")
        response.set_content_type(mime + ("; charset=utf-8" if mime.startswith("text/") else ""))
        request.finish_with_response(response)

    def _serve_cover(self, request, key, pixels):
        if key.endswith("0") or pixels > 512:
            request.finish_error(GLib.Error.new_literal(Gio.io_error_quark(), "no cover", Gio.IOErrorEnum.NOT_FOUND))
            return
        colour = int(key[-6:], 16)
        picture = GdkPixbuf.Pixbuf.new(GdkPixbuf.Colorspace.RGB, False, 8, pixels, pixels)
        picture.fill((colour << 8) | 0xFF)
        corner = picture.new_subpixbuf(0, 0, pixels // 2, pixels // 2)
        corner.fill(((0xFFFFFF - colour) << 8) | 0xFF)
        ok, data = picture.save_to_bufferv("jpeg", ["quality"], ["90"])
        stream = Gio.MemoryInputStream.new_from_bytes(GLib.Bytes.new(data))
        response = WebKit2.URISchemeResponse.new(stream, len(data))
        response.set_content_type("image/jpeg")
        request.finish_with_response(response)

    def _received(self, _manager, result):
        self.on_message(json.loads(result.get_js_value().to_json(0)))

    def run(self, script, then=lambda _: None):
        """Evaluates `script` and hands its JSON value (or {"error": text}) to `then`."""

        def done(_source, result):
            try:
                value = self.view.evaluate_javascript_finish(result)
                then(json.loads(value.to_json(0)) if value and not value.is_undefined() else None)
            except GLib.Error as error:
                then({"error": error.message})

        self.view.evaluate_javascript(script, -1, None, None, None, done)

    def send(self, script):
        """Evaluates a line without waiting for it, as the native side does."""
        self.view.evaluate_javascript(script, -1, None, None, None, None)

    def answer(self, message, payload):
        self.send("window.veltoNative?.resolve(%s, %s);" % (json.dumps(message["id"]), json.dumps(payload)))

    def key(self, key):
        self.send("window.dispatchEvent(new KeyboardEvent('keydown', {key: %s}));"
                  " window.dispatchEvent(new KeyboardEvent('keyup', {key: %s}));" % (json.dumps(key), json.dumps(key)))

    def web_process_ids(self):
        """The web content processes of this program (normally one)."""
        return [pid for pid, name in _children(os.getpid()) if name.startswith("WebKitWebProces")]


def _children(parent):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                stat = f.read()
        except OSError:
            continue
        name = stat[stat.index("(") + 1 : stat.rindex(")")]
        fields = stat[stat.rindex(")") + 2 :].split()
        if int(fields[1]) == parent:
            found.append((int(entry), name))
    return found


def cpu_seconds(pid):
    """User plus system CPU time a process has used so far, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        stat = f.read()
    fields = stat[stat.rindex(")") + 2 :].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
