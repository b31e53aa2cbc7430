# A GTK 3 window with an editable entry and a read-only text view, standing for a program whose
# text the accessibility road may or may not replace.
# Usage: gtk_text.py FD: the entry has the keyboard focus first and "ready" goes to descriptor FD;
# once the entry's text changes the focus moves to the read-only text view.
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

announce = int(sys.argv[1])
window = Gtk.Window(title="Texts")
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
entry = Gtk.Entry()
entry.set_text("editable words")
view = Gtk.TextView()
view.get_buffer().set_text("read-only words")
view.set_editable(False)
box.add(entry)
box.add(view)
window.add(box)

announced = False


def focused(*_):
    global announced
    if not announced:
        announced = True
        entry.grab_focus()
        os.write(announce, b"ready\n")
    return False


def to_view(*_):
    view.grab_focus()


entry.connect("changed", to_view)
window.connect("focus-in-event", focused)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
