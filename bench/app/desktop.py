"""A desktop of one colour under every window, as a user's desktop would be: the benchmark's display
has no window manager and a black background, which an empty window would look the same as.
usage: desktop.py (until killed)"""
import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

import common  # noqa: E402

window = Gtk.Window()
window.set_decorated(False)
window.set_app_paintable(True)
window.move(0, 0)
root = window.get_screen().get_root_window()
window.set_default_size(root.get_width(), root.get_height())


def draw(_widget, cairo):
    cairo.set_source_rgb(*(channel / 255 for channel in common.DESKTOP))
    cairo.paint()
    return True


window.connect("draw", draw)
window.connect("destroy", Gtk.main_quit)
window.show()
Gtk.main()
