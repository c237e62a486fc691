"""Screen readers: the LCD read over a private AT-SPI bus with pyatspi, through
the interfaces Orca uses, and Orca 43 itself in the loop.

With pyatspi: after a recorded session the text is the 8 rows (row 1 in
words) with the caret at the cursor; characters the modem writes at the
cursor at line rate are told as inserted words, in order; a page is one
description change; a flash message and the link's state are announced once.

With Orca: what it says (its debug log) while the modem copies at 20 wpm and
redraws the signal meter, before any key, after letter keys (and their echo)
and after Space, and for three pages each after a key, is what was received,
each letter and digit once and in order, and nothing else. Flat review reaches
row 1 in words, and the Menu key opens the way to the setup dialog."""

import os
import re
import select
import subprocess
import time

from gtk_harness import CANCEL, LINK, SETUP_TITLE, AtSpi, Dialog, Orca
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
DESCRIPTION = "object:property-change:accessible-description"


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


def described(events):
    return [e["data"] for e in of(events, DESCRIPTION)]


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
    assert lines[0].rstrip() == STATUS_WORDS
    line_start = [sum(len(line) + 1 for line in lines[:k]) for k in range(8)]
    caret = line_start[y - 1] + min(x - 1, len(lines[y - 1]))
    try:
        # The last word is held for a pause: the caret reaches the cursor then.
        wait_until(lambda: bus.read()["text"] == expected and bus.read()["caret"] == caret, 5,
                   "the session's text")
    finally:
        screen = bus.read()
    assert screen["text"] == expected
    assert screen["count"] == len(expected)
    assert [line for line, _, _ in screen["lines"]] == [line + "\n" for line in lines[:-1]] + \
        [lines[-1]], "line review: each line at its offsets"
    assert "".join(screen["chars"]) == expected
    assert screen["caret"] == caret
    time.sleep(1.2)  # speeds are told at most once a second: let them out
    bus.events()
    text = expected

    # Characters at the cursor, one command each, at line rate.
    send(env, pair, "typed.bin", bytes([0x97, 1, 5]) +
         b"".join(bytes([0x8E, ord(c)]) for c in TYPED))
    events = hear(bus, lambda events: "".join(e["data"] for e in of(events, INSERT)) == TYPED,
                  "the typed characters")
    assert {e["type"] for e in events} - {DESCRIPTION, ANNOUNCEMENT} == {DELETE, INSERT, CARET}
    assert [e["data"] for e in of(events, INSERT)] == ["CQ ", "CQ ", "DE ", "Q72 ", "K"], \
        "told a word at a time"
    offset = line_start[4]
    for insert in of(events, INSERT):
        assert insert["detail1"] == offset, (insert, events)
        offset += insert["detail2"]
    assert of(events, CARET)[-1]["detail1"] == line_start[4] + len(TYPED)
    text = replay(text, events)
    assert text == bus.read()["text"]
    assert text.split("\n")[4].startswith(TYPED)

    # A page: its rows in one description change, not 80 characters.
    send(env, pair, "page.bin", bytes([0x8B, 0]) + PAGE.encode())
    events = hear(bus, lambda events: described(events), "the page")
    rows = bus.read()["text"].split("\n")[:4]
    assert [row[:20] for row in rows] == [PAGE[k:k + 20] for k in range(0, 80, 20)]
    assert described(events) == ["\n".join(row.strip() for row in rows)], events
    assert said(events) == described(events), events
    assert not of(events, INSERT, DELETE), "not spoken as typed"

    # A flash message: told once, the text changed quietly.
    send(env, pair, "flash.bin", b"\xa1QRM!")
    events = hear(bus, lambda events: said(events), "the flash message", grace=0.5)
    assert said(events) == ["QRM!"] and described(events) == ["QRM!"]
    assert not of(events, INSERT, DELETE), "not spoken as typed"

    pair.pull()
    events = hear(bus, lambda events: said(events), "the link's loss")
    assert said(events) == ["Q72 Link Lost"]
    assert app.close() == 0


# What the modem copies, one line per phase, and the pages it shows after a
# key: (key, stream, its text top to bottom).
BEFORE_KEYS, AFTER_LETTERS, AFTER_SPACE = "CQ CQ DE Q9ZX K ", "Q72A DE Q9ZX GM ", \
    "RST 579 NAME ANNA 73"
MENU = [b"MENU", b"1 SEND CQ", b"2 MEMORIES"]
PAGES = [
    ("F2", bytes([0x8B, 0]) + b"QST QST QST DE Q72HQ" + b"ALL STATIONS QRV 1  " +
     b"NET AT 1900Z ON 7030" + b"73 ES GL            ",
     "QST QST QST DE Q72HQ ALL STATIONS QRV 1 NET AT 1900Z ON 7030 73 ES GL"),
    ("5", bytes([0x89]) + b"".join(bytes([0xA2, row + 2]) + text + bytes(21 - len(text))
                                   for row, text in enumerate(MENU)) + bytes([0x9E]),
     "MENU 1 SEND CQ 2 MEMORIES"),
    ("Return", bytes([0x9F]), "1 2 Display Test A B C D 3 4"),
]
CHAR_SECONDS = 0.5   # 20 wpm: a 6-character word ("PARIS ") of 50 dots of 60 ms
METER_SECONDS = 0.3  # the signal meter is redrawn this often


def letters(texts):
    return re.sub(r"[^A-Za-z0-9]", "", "".join(texts))


class Modem:
    """The modem's end of the cable, written by the test at its own pace."""

    def __init__(self, pair):
        self.fd = os.open(pair.peer, os.O_RDWR | os.O_NOCTTY)
        self.level = 4
        self.received = b""

    def send(self, data):
        os.write(self.fd, data)

    def meter(self):
        """The meter moves by one, across 9 and 10, and the status line is redrawn."""
        self.level = 4 + (self.level - 3) % 8
        self.send(bytes([0x93, self.level, 0xA0]))

    def copy(self, text, row):
        """Copies `text` onto `row` at 20 wpm, each character written at the
        cursor after moving it there, with the meter redrawn meanwhile."""
        start = time.monotonic()
        meter_at = start
        for column, char in enumerate(text, 1):
            due = start + column * CHAR_SECONDS
            while meter_at < due:
                time.sleep(max(0.0, meter_at - time.monotonic()))
                self.meter()
                meter_at += METER_SECONDS
            time.sleep(max(0.0, due - time.monotonic()))
            self.send(bytes([0x97, column, row, 0x8E, ord(char)]))

    def idle(self, seconds):
        """Only the meter, for `seconds`."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            self.meter()
            time.sleep(METER_SECONDS)

    def keys(self):
        """The key codes the program has sent since the last call (all of
        them are kept in `received`)."""
        codes = b""
        while select.select([self.fd], [], [], 0.1)[0]:
            codes += os.read(self.fd, 4096)
        self.received += codes
        return codes

    def echo(self, codes, row):
        """Writes the printable codes back at the cursor on `row`, as the modem
        echoes what it sends; returns them as text."""
        text = bytes(code for code in codes if 0x20 < code < 0x7F)
        self.send(b"".join(bytes([0x97, column, row, 0x8E, code])
                           for column, code in enumerate(text, 1)))
        return text.decode()

    def close(self):
        os.close(self.fd)


def test_orca_says_what_the_modem_copies_after_any_key_and_nothing_else(env):
    orca = Orca(env)
    pair = env.serial(1)
    app = env.launch("--port", pair.device, "--open", a11y=True)
    modem = Modem(pair)
    try:
        # Start-up: the window, then the LCD's line at the caret.
        started = orca.wait(lambda said: any("Q72 to Sync" in text for text in said), 15,
                            "Orca to say the LCD's line")
        assert started[1:] == ["Q72display 1.0 frame.", " 4.^V on Q72 to Sync \n"], started
        modem.send(bytes([0x89, 0x94, 20, 0x95, 20]))
        modem.meter()
        modem.idle(1.5)

        mark = time.monotonic()
        modem.copy(BEFORE_KEYS, 2)
        modem.idle(2)
        env.xdotool("key", "--clearmodifiers", "t", "e", "s", "t")
        time.sleep(0.3)
        echo = modem.echo(modem.keys(), 6)
        modem.idle(2)
        modem.copy(AFTER_LETTERS, 3)
        modem.idle(2)
        env.xdotool("key", "--clearmodifiers", "space")
        modem.idle(1.5)
        modem.copy(AFTER_SPACE, 4)
        modem.idle(3)
        pages = []
        for key, stream, text in PAGES:
            env.xdotool("key", "--clearmodifiers", key)
            time.sleep(0.2)
            modem.send(stream)
            pages.append(text)
            modem.idle(2.5)
        # Orca's own echo of the keys pressed (it says 'space', 'F2' ...) is
        # not the modem's; everything else it says is.
        keys = {"t", "e", "s", "space", "f2", "5", "return"}
        heard = [text for text in orca.since(mark) if text.strip().lower() not in keys]
        expected = [BEFORE_KEYS, echo, AFTER_LETTERS, AFTER_SPACE] + pages
        assert letters(heard) == letters(expected), heard

        # Orca's flat review (its keypad, Num Lock off) moves line by line up
        # through the LCD while the meter keeps moving, to row 1 in words.
        mark = time.monotonic()
        for _ in range(8):
            env.xdotool("key", "KP_Home")
            modem.meter()
            time.sleep(0.3)
        modem.idle(1)
        review = [text.strip() for text in orca.since(mark)]
        assert review[-2] == "Display Test", review
        assert re.fullmatch(r"RX 20, TX 20, signal \d+", review[-1]), review

        # The Menu key opens the window menu, Return its first item: Setup, a
        # dialog whose link button tells the link's state; Esc cancels it.
        mark = time.monotonic()
        env.xdotool("key", "Menu")
        orca.wait(lambda said: "Setup..." in said, 5, "the menu's first item", start=mark)
        env.xdotool("key", "Return")
        setup = Dialog(app, SETUP_TITLE)
        orca.wait(lambda said: any(text.startswith("Q72display 1.0 Setup dialog")
                                   for text in said), 5, "the dialog", start=mark)
        for _ in range(6):
            if "Q72 Linked." in orca.since(mark):
                break
            setup.press("Tab")
            time.sleep(1)
        link = orca.since(mark)
        assert link[link.index("Q72 Linked.") - 1] == "Close I/F push button.", link
        setup.press("Escape")
        setup.wait_closed()
        modem.keys()
        sent = modem.received
    finally:
        modem.close()
    assert sent and 0x5D not in sent, "every key went to the modem but Menu: %r" % sent
    assert app.close() == 0
