"""Reads the native program the way a screen reader does, over AT-SPI.

Run by Debian's /usr/bin/python3 (pyatspi and gi exist only there), with
AT_SPI_BUS_ADDRESS set to the private accessibility bus. It listens from the
start to the events screen readers speak from (text changed, caret moved,
announcement, description changed), once the LCD is found only to the LCD's,
and answers one JSON request per line on stdin with one JSON line on stdout:

    {"cmd": "find", "pid": N, "timeout": S}  -> {"name", "role"} of the LCD
    {"cmd": "read"}                          -> {"text", "count", "caret", "lines",
                                                 "chars", "focused"}
    {"cmd": "events"}                        -> {"events": [...]} heard since the last call

An event is {"type", "detail1", "detail2", "data"}; a failure answers {"error": text}.
"""

import json
import os
import select
import sys
import time

import pyatspi
from gi.repository import GLib

EVENT_TYPES = ("object:text-changed", "object:text-caret-moved", "object:announcement",
               "object:property-change:accessible-description")

heard = []
lcd = None


def on_event(event):
    if lcd is not None and event.source != lcd:
        return  # a dialog's labels, say
    data = event.any_data
    heard.append({"type": event.type, "detail1": event.detail1, "detail2": event.detail2,
                  "data": data if isinstance(data, str) else None})


def pump(seconds):
    """Lets the events that have arrived reach on_event."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while True:
        while context.iteration(False):
            pass
        if time.monotonic() >= end:
            return
        time.sleep(0.002)


def find(pid, timeout):
    global lcd
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        app = next((a for a in pyatspi.Registry.getDesktop(0)
                    if a is not None and a.get_process_id() == pid), None)
        if app is not None:
            lcd = pyatspi.findDescendant(app, lambda a: a.getRole() == pyatspi.ROLE_TERMINAL)
            if lcd is not None:
                return {"name": lcd.name, "role": lcd.getRoleName()}
        pump(0.02)
    raise RuntimeError("no terminal in the program %d after %.0f s" % (pid, timeout))


def read():
    text = lcd.queryText()
    count = text.characterCount
    lines, offset = [], 0
    while offset < count and len(lines) <= 8:
        line, start, end = text.getTextAtOffset(offset, pyatspi.TEXT_BOUNDARY_LINE_START)
        lines.append([line, start, end])
        offset = max(end, offset + 1)
    return {"text": text.getText(0, -1), "count": count, "caret": text.caretOffset,
            "lines": lines,
            "chars": [chr(text.getCharacterAtOffset(k)) for k in range(count)],
            "focused": lcd.getState().contains(pyatspi.STATE_FOCUSED)}


def answer(request):
    if request["cmd"] == "find":
        return find(request["pid"], request.get("timeout", 10))
    if request["cmd"] == "read":
        return read()
    if request["cmd"] == "events":
        pump(0.05)
        events = heard[:]
        del heard[:]
        return {"events": events}
    raise RuntimeError("unknown command %r" % request["cmd"])


def main():
    for event_type in EVENT_TYPES:
        pyatspi.Registry.registerEventListener(on_event, event_type)
    print(json.dumps({"ready": True}), flush=True)
    pending = b""
    while True:
        pump(0)
        if not select.select([0], [], [], 0.005)[0]:
            continue
        chunk = os.read(0, 4096)
        if not chunk:
            return
        pending += chunk
        while b"\n" in pending:
            line, pending = pending.split(b"\n", 1)
            try:
                reply = answer(json.loads(line))
            except Exception as error:  # told to the test, which fails on it
                reply = {"error": "%s: %s" % (type(error).__name__, error)}
            print(json.dumps(reply), flush=True)


if __name__ == "__main__":
    main()
