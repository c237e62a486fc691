"""The link: line settings, recorded sessions through a socat pty pair shown
pixel-identical to q72render's (start-up screen first), --record, keys
against a modem that stops taking bytes, closing and reopening while the
modem streams, and the cable pulled and replugged, also with the device
missing at start; a record FIFO that stalls or loses its reader, the
transcript of a station that only logs, a port held by another program, and
paths that cannot be opened or are no serial device."""

import calendar
import fcntl
import grp
import os
import re
import time
import unittest

from gtk_harness import (CANCEL, LINK, LOST_TITLE, PORT_TITLE, SET_PORT, SETUP_TITLE, TITLE,
                         Dialog)
from history import history_of
from harness import cpu_seconds, wait_until
from keys import start_modem
from test_link import DATA, FINAL_SCREEN, play


def recordings():
    return [os.path.join(DATA, name) for name in sorted(os.listdir(DATA)) if name.endswith(".bin")]


def readers(app):
    """The program's reader threads."""
    count = 0
    for task in os.listdir("/proc/%d/task" % app.process.pid):
        try:
            with open("/proc/%d/task/%s/comm" % (app.process.pid, task)) as f:
                count += f.read().strip() == "q72-reader"
        except OSError:
            pass  # ended meanwhile
    return count


def describe(pids):
    """Each process's command line, for a failure message."""
    lines = []
    for pid in pids:
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                lines.append("%d: %s" % (pid, f.read().replace(b"\0", b" ").decode()))
        except OSError:
            lines.append("%d: ended" % pid)
    return lines


def settled_capture(app):
    """The LCD once two captures 0.2 s apart agree: the frame of the last bytes
    read before the device went may still be on its way to the screen."""
    def agree():
        first = app.capture()
        time.sleep(0.2)
        return first if app.capture() == first else None
    return wait_until(agree, 5, "the LCD to settle")


def wait_held(pair, held, what):
    wait_until(lambda: bool(pair.holders()) == held, 5, what)


def test_line_settings_recorded_sessions_and_the_record_file(env):
    pair = env.serial(1)
    record = env.scratch("record.bin")
    app = env.launch("--port", pair.device, "--open", "--scale", "2", "--scheme", "blue",
                     "--record", record)
    app.wait_image(env.renderer.startup_png(2, 0))
    wait_held(pair, True, "the port to open")
    # Bytes sent while the port settles are dropped: unread, this unfinished
    # row text would swallow the start of the recording.
    pair.send(b"\x89\x8c\x03" + b"0123456789")
    time.sleep(0.6)
    line = pair.stty().split()
    for setting in ("19200", "cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff",
                    "-icanon", "-echo", "-isig", "-opost"):
        assert setting in line, (setting, line)

    sent = play(env, pair, ["s003.bin", "s009.bin"])
    app.expect_stream(sent, 2, 0)
    sent += play(env, pair, ["s011.bin"], ["--fast"])
    app.expect_stream(sent, 2, 0)
    with open(record, "rb") as f:
        assert f.read() == sent, "the record holds every byte received, in order"
    assert readers(app) == 1

    # The modem stops taking bytes and the program's pty fills up: the first
    # key waits for it (half a second at most), the next are dropped at once
    # until it takes bytes again; old behaviour: half a second each.
    log = start_modem(env, pair)
    pair.stop_reading()
    filled = 0
    fd = pair.open_end(os.O_WRONLY | os.O_NONBLOCK | os.O_NOCTTY)
    try:
        # The kernel moves bytes on between its buffers a little later: full
        # is when a pause has made no room.
        for _ in range(100):
            before = filled
            try:
                while True:
                    filled += os.write(fd, b"U" * 256)
            except BlockingIOError:
                pass
            if filled == before:
                break
            time.sleep(0.2)
    finally:
        os.close(fd)
    app.focus()
    typed = time.monotonic()
    env.xdotool("key", *["a"] * 20)
    setup = app.open_setup()
    held = time.monotonic() - typed
    setup.press(CANCEL)
    setup.wait_closed()
    print("20 keys against a stalled modem held the window %.2f s" % held)
    assert held < 5, ("keys after the first time-out are dropped at once", held)
    pair.resume_reading()
    wait_until(lambda: len(log.codes()) >= filled, 10, "the pty to drain")
    app.focus()
    env.xdotool("key", "z")
    wait_until(lambda: log.codes()[-1:] == b"Z", 5, "a key once the modem reads again")
    assert app.close() == 0


def test_close_and_reopen_at_once_while_the_modem_streams(env):
    pair = env.serial(2)
    modem = env.modem(pair, recordings(), ["--fast", "--demo"])
    app = env.launch("--port", pair.device)
    setup = app.open_setup()
    for _ in range(10):
        setup.press(LINK)  # "Open I/F"
        wait_until(lambda: readers(app) == 1, 5, "the reader to start")
        assert pair.holders()
        setup.press(LINK)  # "Close I/F": returns once the reader has ended
        wait_held(pair, False, "the port to close")
        assert readers(app) == 0
    setup.press(LINK)
    wait_until(lambda: readers(app) == 1, 5, "the reader to start")
    setup.press(CANCEL)  # the link stays open
    setup.wait_closed()
    assert modem.poll() is None, ("the modem streamed all along", modem.returncode)
    modem.kill()
    modem.wait()
    pair.send(FINAL_SCREEN)
    app.expect_stream(FINAL_SCREEN, 1, 1)
    assert app.close() == 0


def test_cable_pulled_and_replugged_and_a_device_missing_at_start(env):
    pair = env.serial(3)
    pair.pull()  # its names dangle, as an unplugged adapter's
    app = env.launch("--port", pair.device, "--open")
    app.wait_title(LOST_TITLE, 10)  # start-up included, on a loaded machine
    assert app.windows() == [app.xid], "no message box"
    time.sleep(2.5)  # tried again twice or more
    assert app.stderr() == ("q72display: cannot open %s: No such file or directory\n"
                            % pair.device), "each reason once"
    pair.replug()
    app.wait_title(TITLE, 3)
    startup = app.capture()
    modem = env.modem(pair, recordings(), ["--demo"])
    wait_until(lambda: app.capture() != startup, 10, "the display to follow the modem")

    pulled = time.monotonic()
    pair.pull()
    app.wait_title(LOST_TITLE, 1)
    noticed = time.monotonic() - pulled
    modem.kill()
    modem.wait()
    shown = settled_capture(app)
    before = cpu_seconds(app.process.pid)
    time.sleep(2)
    cpu = (cpu_seconds(app.process.pid) - before) / 2
    assert cpu < 0.05, "no busy loop while the device is gone: %.1f %% of a core" % (100 * cpu)
    assert app.capture() == shown, "the LCD's pixels stay as they were"

    replugged = time.monotonic()
    pair.replug()
    app.wait_title(TITLE, 3)
    relinked = time.monotonic() - replugged
    pair.send(FINAL_SCREEN)
    app.expect_stream(FINAL_SCREEN, 1, 1)
    print("link lost noticed after %.2f s, linked again %.2f s after the replug, "
          "%.2f %% CPU meanwhile" % (noticed, relinked, 100 * cpu))

    # "Close I/F" ends the retries.
    pair.pull()
    app.wait_title(LOST_TITLE, 1)
    setup = app.open_setup()
    setup.press(LINK)
    app.wait_title(TITLE, 2)
    assert readers(app) == 0
    pair.replug()
    time.sleep(1.5)
    assert not pair.holders(), ("not reopened after Close I/F", describe(pair.holders()))
    assert app.close() == 0


def test_a_record_fifo_that_stalls_or_loses_its_reader_stops_the_recording(env):
    """Recording never holds up the reader: the display, "Close I/F" and the
    end go on, with one line and one box saying why the recording stopped."""
    fifo = env.scratch("record.fifo")
    os.mkfifo(fifo)
    pair = env.serial(5)
    stalled = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)  # never read until the end
    try:
        fcntl.fcntl(stalled, fcntl.F_SETPIPE_SZ, 4096)  # the smallest pipe, filled soon
        app = env.launch("--port", pair.device, "--open", "--record", fifo)
        wait_held(pair, True, "the port to open")
        time.sleep(0.6)  # the port settles
        sent = play(env, pair, ["s000.bin", "s005.bin", "s009.bin"], ["--fast"])
        box = Dialog(app, "Error")
        box.press("Return")
        box.wait_closed()
        app.expect_stream(sent, 1, 1)
        recorded = os.read(stalled, 65536)
    finally:
        os.close(stalled)
    assert 0 < len(recorded) < len(sent) and sent.startswith(recorded), len(recorded)
    assert app.stderr() == "q72display: recording to %s stopped: it takes no more bytes\n" % fifo
    setup = app.open_setup()
    setup.press(LINK)  # "Close I/F"
    wait_held(pair, False, "the port to close")
    assert app.close() == 0

    # The reader goes: a write fails (EPIPE), and does not end the program.
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    app = env.launch("--port", pair.device, "--open", "--record", fifo)
    os.close(reader)
    wait_held(pair, True, "the port to open")
    time.sleep(0.6)
    pair.send(FINAL_SCREEN)
    box = Dialog(app, "Error")
    assert app.stderr() == "q72display: recording to %s stopped: Broken pipe\n" % fifo
    box.press("Return")
    box.wait_closed()
    app.expect_stream(FINAL_SCREEN, 1, 1)
    assert app.close() == 0


def transcript_lines(path):
    """The transcript's lines, each (TIME as seconds since 1970, TEXT), and its
    comment lines."""
    with open(path, "rb") as f:
        data = f.read().decode("utf-8")
    assert data.endswith("\n") and "\r" not in data
    entries, comments = [], []
    for line in data[:-1].split("\n"):
        if line.startswith("#"):
            comments.append(line)
            continue
        stamp, text = line.split("\t", 1)
        assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", stamp), stamp
        entries.append((calendar.timegm(time.strptime(stamp, "%Y-%m-%dT%H:%M:%SZ")), text))
    return entries, comments


def test_the_transcript_holds_each_line_scrolled_away_then_the_rows_on_screen(env):
    """--headless with a transcript and no panel: recorded sessions, then
    SIGTERM. The lines are those a reading of q72render's text before and
    after each scroll finds, then the rows left on screen; each written as
    it enters, stamped in UTC; each run appends under its own comment. A
    FIFO that stalls ends the transcript alone."""
    pair = env.serial(6)
    transcript = env.scratch("transcript.txt")
    with open(transcript, "w") as f:
        f.write("# kept\n")
    written = 0  # lines of the runs before
    for run, names in enumerate((["s005.bin", "s009.bin"], ["s000.bin", "s006.bin"])):
        started = int(time.time())
        app = env.app("--headless", "--port", pair.device, "--transcript", transcript).start()
        wait_held(pair, True, "the port to open")
        time.sleep(0.6)  # the port settles
        lines, on_screen = history_of(env, play(env, pair, names, ["--fast"]))
        assert len(lines) > 10, "the sessions scroll text away"
        wait_until(lambda: len(transcript_lines(transcript)[0]) == written + len(lines), 5,
                   "the lines in the transcript before the end: %s, %s" % (
                       lines, transcript_lines(transcript)))
        assert app.close() == 0
        assert app.stderr() == ""
        ended = int(time.time())
        entries, comments = transcript_lines(transcript)
        assert [text for _, text in entries[written:]] == lines + on_screen
        assert all(started <= stamp <= ended for stamp, _ in entries[written:])
        assert len(comments) == run + 2 and comments[0] == "# kept"
        head = re.fullmatch(r"# q72display 1\.0, port (.*), started (.*)", comments[-1])
        assert head and head[1] == pair.device, comments[-1]
        assert started <= calendar.timegm(time.strptime(head[2], "%Y-%m-%dT%H:%M:%SZ")) <= ended
        written = len(entries)

    # A FIFO whose reader stalls ends the transcript, once, and holds up
    # nothing: the program ends as usual.
    fifo, stream = env.scratch("transcript.fifo"), env.scratch("scrolling.bin")
    os.mkfifo(fifo)
    with open(stream, "wb") as f:
        for line in range(1000):  # 1000 lines of 20 characters typed on row 4, each scrolled up
            f.write(b"\x97\x01\x04" + b"".join(b"\x8e" + bytes([65 + (line + k) % 26])
                                               for k in range(20)) + b"\x9c")
    stalled = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    try:
        fcntl.fcntl(stalled, fcntl.F_SETPIPE_SZ, 4096)
        app = env.app("--headless", "--port", pair.device, "--transcript", fifo).start()
        wait_held(pair, True, "the port to open")
        time.sleep(0.6)
        assert env.modem(pair, [stream], ["--fast"]).wait(timeout=60) == 0
        wait_until(app.stderr, 5, "the transcript to stop")
        assert app.alive()
        assert app.close() == 0
        assert app.stderr() == "q72display: transcript to %s stopped: it takes no more lines\n" % fifo
        assert 0 < len(os.read(stalled, 65536)) <= 4096
    finally:
        os.close(stalled)


IN_USE = "in use by another program"


def test_a_port_held_by_another_program_is_not_shared(env):
    """Run as root, as TIOCEXCL alone would let it in: the lock keeps a second
    program off the port. With --open it waits as for a lost device and
    links once the first lets go; "Open I/F" says why it failed."""
    pair = env.serial(6)
    first = env.launch("--port", pair.device, "--open", "--scale", "4", a11y=True)
    wait_held(pair, True, "the first program to open the port")
    time.sleep(0.6)
    second = env.launch("--port", pair.device, "--open")  # over the first one's corner
    second.wait_title(LOST_TITLE, 3)
    time.sleep(2.5)
    assert second.title() == LOST_TITLE
    assert second.stderr() == "q72display: cannot open %s: %s\n" % (pair.device, IN_USE)
    assert pair.holders() == {first.process.pid}

    setup = first.open_setup()
    setup.press(LINK)  # "Close I/F": the second one links by itself
    second.wait_title(TITLE, 3)
    wait_until(lambda: pair.holders() == {second.process.pid}, 5, "the second to hold the port")
    setup.press(LINK)  # "Open I/F"
    first.wait_label(SETUP_TITLE, "Com Open Fail: " + IN_USE)
    assert first.stderr() == "q72display: cannot open %s: %s\n" % (pair.device, IN_USE)
    assert readers(first) == 0
    setup.press(CANCEL)
    setup.wait_closed()
    time.sleep(0.6)
    pair.send(FINAL_SCREEN)
    second.expect_stream(FINAL_SCREEN, 1, 1)
    assert second.close() == 0
    assert first.close() == 0


def test_why_an_open_fails_and_paths_that_are_no_serial_device(env):
    """No port, or a path that is no serial device, is given up at once, with
    one line, a box, and the reason in the setup dialog."""
    for port, reason in ((None, "no port chosen"), (os.devnull, "not a serial device")):
        app = env.launch(*(["--port", port] if port else []), "--open", a11y=True)
        box = Dialog(app, "Error")
        assert app.title() == TITLE, "not \"link lost\""
        time.sleep(1.5)  # not tried again
        assert app.stderr() == "q72display: cannot open %s: %s\n" % (port or "the link", reason)
        assert readers(app) == 0
        box.press("Return")
        box.wait_closed()
        setup = app.open_setup()
        app.wait_label(SETUP_TITLE, "Com Open Fail: " + reason)
        if port is None:
            assert app.close() == 0

    # "Open I/F" on a folder and on a plain file, with /dev/null's dialog.
    plain = env.scratch("plain-file")
    open(plain, "w").close()
    for path in (env.root, plain):
        setup.press(SET_PORT)
        chooser = Dialog(app, PORT_TITLE)
        chooser.press("ctrl+a")
        env.xdotool("type", path)
        chooser.press("Return")
        chooser.wait_closed()
        app.wait_label(SETUP_TITLE, "Com Port: " + path)
        setup.press(LINK)  # "Open I/F"
        line = "q72display: cannot open %s: not a serial device" % path
        wait_until(lambda: app.stderr().splitlines()[-1] == line, 5, line)
        app.wait_label(SETUP_TITLE, "Com Open Fail: not a serial device")
        assert readers(app) == 0
    assert len(app.stderr().splitlines()) == 3
    assert app.close() == 0


def test_a_user_outside_the_devices_group_is_told_its_name(env):
    """The most common case of a denied device, a user who is not in its group:
    it is retried as lost, and the line names the group that may open it."""
    if os.geteuid() != 0:
        raise unittest.SkipTest("needs root, to run the program as another user")
    pair = env.serial(7)
    device = os.path.realpath(pair.device)
    os.chown(device, -1, grp.getgrnam("dialout").gr_gid)
    os.chmod(device, 0o660)
    app = env.launch("--port", pair.device, "--open", user="nobody")
    app.wait_title(LOST_TITLE, 3)
    time.sleep(1.5)
    assert app.stderr() == ("q72display: cannot open %s: Permission denied (members of the "
                            "group dialout may open it)\n" % pair.device)
    assert app.close() == 0
