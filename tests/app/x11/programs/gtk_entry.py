# A GTK 3 window with one text entry, standing for an application that receives dictations.
# Usage: gtk_entry.py OUTPUT FD: the entry starts as "[]" with the caret between the brackets;
# every change of its text is written to OUTPUT; "ready" goes to descriptor FD once the window
# has the keyboard focus.
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

output, announce = sys.argv[1], int(sys.argv[2])
window = Gtk.Window(title="Entry")
entry = Gtk.Entry()
entry.set_text("[]")
window.add(entry)


def changed(widget):
    with open(output + ".part", "w", encoding="utf-8") as f:
        f.write(widget.get_text())
    os.replace(output + ".part", output)


announced = False


def focused(*_):
    global announced
    if not announced:
        announced = True
        entry.grab_focus()
        entry.set_position(1)
        os.write(announce, b"ready\n")
    return False


entry.connect("changed", changed)
window.connect("focus-in-event", focused)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
