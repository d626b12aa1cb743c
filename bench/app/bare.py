"""A bare WebKitGTK window of the device's size at the device's place, with WebKit's defaults.
    bare.py PAGE X Y      loads PAGE from a file: URL (modules allowed from files)
    bare.py --word X Y    shows one word that changes once a second: the floor of what an idle
                          WebKitGTK window costs, against which the app's idle and memory are put"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import Gtk, WebKit2  # noqa: E402

WORD_PAGE = """<!doctype html><meta charset="utf-8"><title>floor</title>
<body style="font: 24px sans-serif"><p id="word">tick</p>
<script>let n = 0; setInterval(() => { word.textContent = ++n % 2 ? "tock" : "tick"; }, 1000);</script>"""

window = Gtk.Window(title="WebKitGTK floor")
window.set_decorated(False)
window.set_default_size(470, 770)
window.move(int(sys.argv[2]), int(sys.argv[3]))
view = WebKit2.WebView()
settings = view.get_settings()
settings.set_allow_file_access_from_file_urls(True)
settings.set_allow_universal_access_from_file_urls(True)
window.add(view)
window.connect("destroy", Gtk.main_quit)
if sys.argv[1] == "--word":
    view.load_html(WORD_PAGE, "about:blank")
else:
    view.load_uri("file://" + sys.argv[1])
window.show_all()
Gtk.main()
