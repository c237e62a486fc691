"""The command line: the link opened at start on the port given, the bytes
received recorded to a file (whatever characters its name has, and until it
stops taking them), the transcript of the lines that left the screen (and the
history window showing them), the usage for --help, anything unknown and bad
values, and the version for --version."""

import datetime
import re

import lcd
from history import history_of
from harness import (COM_PORT_TEXT, DONE, LINK, LINK_STATUS, LOST_TITLE, TITLE, WM_CLOSE,
                     wait_until, windows_path)
from test_faults import caption_after, only_the_main_window
from test_link import RESYNC, play
from test_window import choose_from_window_menu

USAGE_TITLE = "Q72display 1.0 Usage"
WM_SYSCOMMAND, SYS_COPY = 0x0112, 0x20  # the window menu's "Copy Screen"
# Two rows of text with glyph codes outside 32..126 in them, which read back as '#'.
SCREEN = RESYNC + b"\x8c\x02" + b"73 de Q72 \x01\x7f".ljust(21) + b"\x8c\x05" + b"QRV".ljust(21)


def test_open_at_start_with_a_port_and_a_record_file(env):
    # A name with characters outside the ANSI code page (1252 here): in it,
    # Omega would become "O", and another file would be written, here one of
    # the user's.
    record = env.scratch("r\u00e9cord-\u03a9.bin")
    look_alike = env.scratch("r\u00e9cord-O.bin")
    for path, content in ((record, b"earlier\n"), (look_alike, b"the user's own file\n")):
        with open(path, "wb") as f:
            f.write(content)
    stored = lcd.config(com_port=7, blk_on_grn=0, scale=2)
    app = env.launch(stored, args=["--open", "--port", "41", "--record", windows_path(record)])
    # No device on COM41 yet: the caption says so, no message box, and the
    # program keeps trying.
    caption_after(app, LOST_TITLE, timeout=1)
    only_the_main_window(app)
    pair = env.serial(41)
    linked = caption_after(app, TITLE)
    print("linked %.3f s after the device came" % linked)
    assert linked < 2.0

    sent = play(env, pair, ["s003.bin"]) + SCREEN
    pair.send(SCREEN)
    app.expect_stream(sent, 2, 0)
    wait_until(lambda: open(record, "rb").read() == b"earlier\n" + sent, 2,
               "the record file to hold every byte received")
    assert open(look_alike, "rb").read() == b"the user's own file\n"

    # Copy Screen from the window menu: the picture shown and its text.
    choose_from_window_menu(app, 3)
    picture, text = wait_until(env.clipboard, 5, "the copy on the clipboard")
    assert picture == env.render_stream(sent, 2, 0)
    rows = ["", "73 de Q72 ##", "", "", "QRV", "", "", ""]
    assert text == "".join(row.ljust(21) + "\r\n" for row in rows).encode()
    # While another program holds the clipboard: tried for a moment, then the user is told.
    env.probe.call("holdclipboard")
    try:
        app.post(WM_SYSCOMMAND, SYS_COPY)
        box, message = app.wait_message_box()
    finally:
        env.probe.call("releaseclipboard")
    assert message == "Could not copy the screen: another program is using the clipboard."
    app.answer_message_box(box)

    # --port is for this run: saved only by "Done".
    setup = app.open_setup()
    assert (setup.text(LINK_STATUS), setup.text(LINK), setup.text(COM_PORT_TEXT)) == \
        ("Q72 Linked", "Close I/F", "Com Port: 41")
    setup.post(WM_CLOSE)
    setup.wait_closed()
    assert app.config_bytes() == stored
    setup = app.open_setup()
    setup.click(DONE)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=41, blk_on_grn=0, scale=2)
    assert app.close() == 0


def test_usage_and_a_record_file_that_cannot_be_opened(env):
    # The usage, then exit status 2; no configuration file is made.
    for args, problem in ((["--help"], None), (["--bogus"], "Unknown switch: --bogus"),
                          (["--port"], "--port needs a value."),
                          (["--port", "0"], "Not a port number: 0"),
                          (["--record"], "--record needs a value."),
                          (["--record", ""], "--record: the file name is empty."),
                          (["--record", "x" * 260],
                           "--record: the file name is longer than 259 characters."),
                          (["--open", "COM5"], "Unknown switch: COM5")):
        app = env.app().start(args=args)
        box, message = app.wait_message_box(USAGE_TITLE)
        assert "--record FILE" in message, message
        assert message.startswith(problem) if problem else message.startswith("Usage:"), message
        app.answer_message_box(box)
        assert app.wait_exit() == 2, args
        assert app.config_bytes() is None, args
    # --version: a box with the version and the copyright, then exit status 0.
    app = env.app().start(args=["--version"])
    box, message = app.wait_message_box(TITLE)
    assert message.startswith("q72display 1.0") and "The Q72display developers" in message, message
    app.answer_message_box(box)
    assert app.wait_exit() == 0
    assert app.config_bytes() is None

    # A record file that cannot be opened: named in a message box, then the
    # program runs without recording.
    record = windows_path(env.scratch("no-such-folder/received.bin"))
    app = env.app(lcd.config()).start(args=["--record", record])
    box, message = app.wait_message_box()
    assert record in message, message
    app.answer_message_box(box)
    app.wait_window()
    assert app.close() == 0

    # A record file that stops taking bytes (its disk full): the recording
    # stops with one message box naming it; the display goes on.
    record = env.scratch("full.bin")
    app = env.app(lcd.config()).start(max_file_size=100, args=[
        "--open", "--port", "42", "--record", windows_path(record)]).wait_window()
    caption_after(app, LOST_TITLE, timeout=1)
    pair = env.serial(42)
    caption_after(app, TITLE)
    pair.send(SCREEN)
    box, message = app.wait_message_box()
    # (the probe reads the box's line break as a space)
    assert message == ("Recording stopped: the record file cannot be written "
                       + windows_path(record)), message
    app.answer_message_box(box)
    pair.send(b"\x8c\x07" + b"still shown".ljust(21))
    app.expect_stream(SCREEN + b"\x8c\x07" + b"still shown".ljust(21), 1, 1)
    only_the_main_window(app)
    with open(record, "rb") as f:
        assert f.read() == SCREEN[:100]
    assert app.close() == 0


HISTORY_TITLE, HISTORY_EDIT = "Q72display History", 4101

def entries(text, since, until):
    """The texts of TIME<TAB>TEXT lines, each time checked to fall in [since, until]."""
    texts = []
    for entry in text.split("\r\n")[:-1]:
        stamp, line = entry.split("\t")
        moment = datetime.datetime.strptime(stamp, "%Y-%m-%dT%H:%M:%SZ")
        assert since <= moment.replace(tzinfo=datetime.timezone.utc) <= until, entry
        texts.append(line)
    return texts


def test_transcript_and_history_window(env):
    # Appended to what is there, under a name outside the ANSI code page.
    transcript = env.scratch("tr\u00e4nscript-\u03a9.txt")
    with open(transcript, "wb") as f:
        f.write(b"an earlier run\r\n")
    since = datetime.datetime.now(datetime.timezone.utc).replace(microsecond=0)
    app = env.launch(lcd.config(com_port=43, scale=2),
                     args=["--open", "--transcript", windows_path(transcript)])
    pair = env.serial(43)
    caption_after(app, TITLE)
    sent = play(env, pair, ["s000.bin", "s009.bin", "s011.bin"])
    lines, rows = history_of(env, sent)
    assert len(lines) > 10 and rows, (lines, rows)

    # Each line is in the file as soon as it has left the screen.
    def written():
        with open(transcript, "rb") as f:
            data = f.read()
        assert data.startswith(b"an earlier run\r\n")
        return data[16:].decode("utf-8")
    wait_until(lambda: written().count("\r\n") == 1 + len(lines), 5, "the lines in the file")
    comment, body = written().split("\r\n", 1)
    assert re.fullmatch(r"# q72display 1\.0, port COM43, started \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ",
                        comment), comment
    until = datetime.datetime.now(datetime.timezone.utc)
    assert entries(body, since, until) == lines

    # "History..." shows the same lines with their times, then the rows on screen.
    choose_from_window_menu(app, 2)
    history = wait_until(lambda: int(env.probe.value("find " + HISTORY_TITLE), 0), 5,
                         "the history window")
    shown = bytes.fromhex(env.probe.value("wtext %d %d" % (history, HISTORY_EDIT))).decode()
    assert shown.startswith(body)
    assert entries(shown, since, datetime.datetime.now(datetime.timezone.utc)) == lines + rows

    # Closed, the program appends the rows still on screen.
    assert app.close() == 0
    assert entries(written().split("\r\n", 1)[1], since,
                   datetime.datetime.now(datetime.timezone.utc)) == lines + rows

    # A transcript file that stops taking lines (its disk full): the
    # transcript ends with one message box naming it; the display goes on.
    full = env.scratch("full.txt")
    app = env.app(lcd.config(com_port=44)).start(max_file_size=150, args=[
        "--open", "--transcript", windows_path(full)]).wait_window()
    pair = env.serial(44)
    caption_after(app, TITLE)
    scrolled = RESYNC + b"".join(b"\x8c\x02" + (b"LINE %d" % k).ljust(21) + b"\x9c"
                                for k in range(8))
    pair.send(scrolled)
    box, message = app.wait_message_box()
    assert message == ("Transcript stopped: the transcript file cannot be written "
                       + windows_path(full)), message
    app.answer_message_box(box)
    more = b"\x8c\x07" + b"still shown".ljust(21)
    pair.send(more)
    app.expect_stream(scrolled + more, 1, 1)
    only_the_main_window(app)
    assert app.close() == 0
