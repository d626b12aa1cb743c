"""A bare WebKitGTK window of the device's size at the device's place, loading PAGE from a file: URL
(modules allowed from files). usage: bare.py PAGE X Y"""
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("WebKit2", "4.1")
from gi.repository import Gtk, WebKit2  # noqa: E402

window = Gtk.Window()
window.set_decorated(False)
window.set_default_size(470, 770)
window.move(int(sys.argv[2]), int(sys.argv[3]))
view = WebKit2.WebView()
settings = view.get_settings()
settings.set_allow_file_access_from_file_urls(True)
settings.set_allow_universal_access_from_file_urls(True)
window.add(view)
window.connect("destroy", Gtk.main_quit)
view.load_uri("file://" + sys.argv[1])
window.show_all()
Gtk.main()
