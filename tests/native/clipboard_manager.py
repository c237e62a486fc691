"""A clipboard manager for the tests, on $DISPLAY: it owns CLIPBOARD_MANAGER,
and when a program that ends asks it to keep the clipboard (SAVE_TARGETS), it
takes the clipboard's text over and offers it from then on. Prints "ready"
once it owns the selection. Run with Debian's /usr/bin/python3 (gi)."""

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

MANAGER = Gdk.Atom.intern("CLIPBOARD_MANAGER", False)
SAVE_TARGETS = Gdk.Atom.intern("SAVE_TARGETS", False)


def on_request(widget, event):
    """Takes the text over before GTK's own handler answers SAVE_TARGETS (it
    never passes that target to "selection-get"); the program serves the
    clipboard meanwhile, waiting for the answer."""
    if event.selection == MANAGER and event.target == SAVE_TARGETS:
        clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
        text = clipboard.wait_for_text()
        if text is not None:
            clipboard.set_text(text, -1)
    return False


def main():
    widget = Gtk.Invisible()
    widget.realize()
    Gtk.selection_add_target(widget, MANAGER, SAVE_TARGETS, 0)
    widget.connect("selection-request-event", on_request)
    if not Gtk.selection_owner_set(widget, MANAGER, Gdk.CURRENT_TIME):
        raise SystemExit("clipboard_manager.py: cannot own CLIPBOARD_MANAGER")
    print("ready", flush=True)
    Gtk.main()


if __name__ == "__main__":
    main()
