"""Screen readers: the LCD read over a private AT-SPI bus with pyatspi, through
the interfaces Orca uses. After a recorded session the text is the 8 rows
(row 1 in words) with the caret at the cursor; characters the modem writes
at the cursor at line rate are told as inserted text, in order; a page is one
change; a flash message and the link's state are announced once; and the
events keep a reader's copy of the text right throughout."""

import os
import subprocess
import time

from gtk_harness import CANCEL, LINK, AtSpi
from harness import wait_until
from test_link import DATA

# The status line drawn from known values: RX 16, TX 20, signal 5, user 1,
# the ESC flag, no extra flags and no alternate fields.
STATUS = bytes([0x94, 16, 0x95, 20, 0x93, 5, 0xA8, 1, 0x96, 0x80, 0xB1, 0,
                0xA6, 1, 0, 0, 0, 0xA6, 2, 0, 0, 0, 0x9E])
STATUS_WORDS = "RX 16, TX 20, signal 5, user 1, ESC"
TYPED = "CQ CQ DE Q72 K"
PAGE = "".join("page row %d" % row + "." * 10 for row in range(1, 5))
INSERT, DELETE = "object:text-changed:insert", "object:text-changed:delete"
ANNOUNCEMENT, CARET = "object:announcement", "object:text-caret-moved"


def send(env, pair, name, data):
    """q72modem sends `data` at the line's rate."""
    path = env.scratch(name)
    with open(path, "wb") as f:
        f.write(data)
    assert env.modem(pair, [path]).wait(timeout=30) == 0
    return path


def rendered(env, stream):
    """q72render's text of the start-up screen followed by `stream`, and the cursor."""
    out = env.scratch("screen.txt")
    stats = subprocess.run([env.q72render, "--startup", "--stats", stream, out], check=True,
                           capture_output=True, text=True).stdout
    with open(out, encoding="utf-8") as f:
        text = f.read()[:-1]
    x, y = stats.split("cursor=")[1].split()[0].split(",")
    return text, (int(x), int(y))


def hear(bus, done, what, timeout=10, grace=0.3):
    """The events heard until done(events) holds, and for `grace` seconds more."""
    events = []

    def heard():
        events.extend(bus.events())
        return done(events)
    wait_until(heard, timeout, what)
    time.sleep(grace)
    return events + bus.events()


def of(events, *types):
    return [e for e in events if e["type"] in types]


def said(events):
    return [e["data"] for e in of(events, ANNOUNCEMENT)]


def replay(text, events):
    """A reader's copy of `text` after the events; each delete must remove
    what the copy holds."""
    for e in events:
        offset, count = e["detail1"], e["detail2"]
        if e["type"].startswith(DELETE):
            assert text[offset:offset + count] == e["data"], (e, text)
            text = text[:offset] + text[offset + count:]
        elif e["type"].startswith(INSERT):
            assert len(e["data"]) == count, e
            text = text[:offset] + e["data"] + text[offset:]
    return text


def test_a_screen_reader_reads_the_lcd_and_hears_what_the_modem_writes(env):
    bus = AtSpi(env)
    pair = env.serial(1)
    app = env.launch("--port", pair.device, a11y=True)
    assert bus.find(app) == {"name": "Q72 LCD", "role": "terminal"}
    wait_until(lambda: bus.read()["focused"], 5, "the LCD to have the keyboard focus")
    setup = app.open_setup()
    setup.press(LINK)
    # Told once the port has settled: from now on nothing sent is dropped.
    events = hear(bus, lambda events: said(events), "the link's state")
    assert said(events) == ["Q72 Linked"]
    setup.press(CANCEL)
    setup.wait_closed()

    with open(os.path.join(DATA, "s003.bin"), "rb") as f:
        session = send(env, pair, "session.bin", f.read() + STATUS)
    expected, (x, y) = rendered(env, session)
    lines = expected.split("\n")
    assert lines[0] == STATUS_WORDS
    try:
        wait_until(lambda: bus.read()["text"] == expected, 5, "the session's text")
    finally:
        screen = bus.read()
    assert screen["text"] == expected
    assert screen["count"] == len(expected)
    assert [line for line, _, _ in screen["lines"]] == [line + "\n" for line in lines[:-1]] + \
        [lines[-1]], "line review: each line at its offsets"
    assert "".join(screen["chars"]) == expected
    line_start = [sum(len(line) + 1 for line in lines[:k]) for k in range(8)]
    assert screen["caret"] == line_start[y - 1] + min(x - 1, len(lines[y - 1]))
    time.sleep(1.2)  # speeds are told at most once a second: let them out
    bus.events()
    text = expected

    # Characters at the cursor, one command each, at line rate.
    send(env, pair, "typed.bin", bytes([0x97, 1, 5]) +
         b"".join(bytes([0x8E, ord(c)]) for c in TYPED))
    events = hear(bus, lambda events: "".join(e["data"] for e in of(events, INSERT)) == TYPED,
                  "the typed characters")
    assert {e["type"] for e in events} == {DELETE, INSERT, CARET}, "spoken as typed, nothing else"
    offset = line_start[4]
    for insert in of(events, INSERT):
        assert insert["detail1"] == offset, (insert, events)
        offset += insert["detail2"]
    assert of(events, CARET)[-1]["detail1"] == line_start[4] + len(TYPED)
    text = replay(text, events)
    assert text == bus.read()["text"]
    assert text.split("\n")[4].startswith(TYPED)

    # A page: one change, not 80 characters, and "screen changed".
    send(env, pair, "page.bin", bytes([0x8B, 0]) + PAGE.encode())
    events = hear(bus, lambda events: of(events, INSERT + ":system"), "the page")
    assert len(of(events, INSERT, INSERT + ":system")) == 1, events
    assert said(events) == ["screen changed"]
    text = replay(text, events)
    assert text == bus.read()["text"]
    assert [row[:20] for row in text.split("\n")[:4]] == [PAGE[k:k + 20] for k in range(0, 80, 20)]

    # A flash message: announced once, the text kept in step quietly.
    send(env, pair, "flash.bin", b"\xa1QRM!")
    events = hear(bus, lambda events: said(events), "the flash message", grace=0.5)
    assert said(events) == ["QRM!"]
    assert not of(events, INSERT), "not spoken as typed"
    assert replay(text, events) == bus.read()["text"]

    pair.pull()
    events = hear(bus, lambda events: said(events), "the link's loss")
    assert said(events) == ["Q72 Link Lost"]
    assert app.close() == 0
