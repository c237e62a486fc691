"""Prints the text of every label in the window TITLE of the process PID, one
per line, read through AT-SPI; with "text", the whole text of every read-only
text view there instead, as a JSON list. Run with Debian's /usr/bin/python3 (pyatspi)
and AT_SPI_BUS_ADDRESS set.

    atspi_labels.py PID TITLE [text]
"""

import json
import sys

import pyatspi


def main(pid, title, what="label"):
    texts = []
    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.get_process_id() != pid:
            continue
        for window in app:
            if window is None or window.name != title:
                continue
            if what == "text":
                for view in pyatspi.findAllDescendants(
                        window, lambda a: a.getRole() == pyatspi.ROLE_TEXT
                        and not a.getState().contains(pyatspi.STATE_EDITABLE)):
                    text = view.queryText()
                    texts.append(text.getText(0, text.characterCount))
            else:
                for label in pyatspi.findAllDescendants(
                        window, lambda a: a.getRole() == pyatspi.ROLE_LABEL):
                    print(label.name)
    if what == "text":
        print(json.dumps(texts))


if __name__ == "__main__":
    main(int(sys.argv[1]), *sys.argv[2:])
