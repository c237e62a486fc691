"""Prints the text of every label in the window TITLE of the process PID, one
per line, read through AT-SPI. Run with Debian's /usr/bin/python3 (pyatspi)
and AT_SPI_BUS_ADDRESS set.

    atspi_labels.py PID TITLE
"""

import sys

import pyatspi


def main(pid, title):
    for app in pyatspi.Registry.getDesktop(0):
        if app is None or app.get_process_id() != pid:
            continue
        for window in app:
            if window is not None and window.name == title:
                for label in pyatspi.findAllDescendants(
                        window, lambda a: a.getRole() == pyatspi.ROLE_LABEL):
                    print(label.name)


if __name__ == "__main__":
    main(int(sys.argv[1]), sys.argv[2])
