"""The live link: opening and closing the port from the setup dialog, the
line settings, the display following what the modem sends, the flash
message's expiry, and closing and reopening while the modem streams."""

import os
import time

import lcd
from harness import LINK, LINK_STATUS, WM_CLOSE, holders_of, wait_until

DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")

# Brings the interpreter back to its idle state from anywhere in a command
# (the longest, page text, takes 81 bytes; text commands end at a 0), hides
# the cursor and clears the screen; then three rows of text.
RESYNC = bytes(100) + b"\x98\x03\x87"
FINAL_SCREEN = RESYNC + b"".join(b"\x8c" + bytes([row]) + text.ljust(21).encode()
                                 for row, text in ((2, "link is back"), (4, "QRV 73"),
                                                   (6, "end of test")))
RED = 0xFF0000


def follows_the_stream_after_the_last_open(app, setup, pair, modem):
    """Stops the modem, sends a known screen, expects it shown, and ends the program."""
    modem.kill()
    modem.wait()
    pair.send(FINAL_SCREEN)
    app.expect_stream(FINAL_SCREEN, 1, 1, timeout=30)
    setup.post(WM_CLOSE)
    setup.wait_closed()
    assert app.close() == 0


def recording(name):
    with open(os.path.join(DATA, name), "rb") as f:
        return f.read()


def open_link(app):
    """Opens the setup dialog and the link through it; returns the dialog."""
    setup = app.open_setup()
    assert (setup.text(LINK_STATUS), setup.text(LINK)) == ("Q72 I/F Closed", "Open I/F")
    setup.click(LINK)
    setup.wait_text(LINK, "Close I/F")
    assert setup.text(LINK_STATUS) == "Q72 Linked"
    return setup


def close_link(setup):
    setup.click(LINK)
    setup.wait_text(LINK, "Open I/F")
    assert setup.text(LINK_STATUS) == "Q72 I/F Closed"


def threads(app):
    return int(app.env.probe.value("threads %d" % app.hwnd))


def play(env, pair, names, options=()):
    """q72modem plays recordings to the program (at the line's speed unless
    `options` say otherwise); returns the bytes it sent."""
    modem = env.modem(pair, [os.path.join(DATA, name) for name in names], options)
    assert modem.wait(timeout=60) == 0
    return b"".join(recording(name) for name in names)


def test_link_opens_configures_the_line_and_closes(env):
    pair = env.serial(21)
    app = env.launch(lcd.config(com_port=21, blk_on_grn=0, scale=2))
    idle_threads = threads(app)
    # Bytes from the modem before the open and while the port settles are
    # dropped: unread, this unfinished row text would swallow the first 11
    # bytes of the recording below.
    junk = b"\x89\x8c\x03" + b"0123456789"
    pair.send(junk)
    setup = app.open_setup()
    clicked = time.monotonic()
    setup.click(LINK)
    time.sleep(0.1)
    pair.send(junk)
    assert time.monotonic() - clicked < 0.35, "the junk must be sent before the port settles"
    setup.wait_text(LINK, "Close I/F")
    assert setup.text(LINK_STATUS) == "Q72 Linked"
    assert pair.holders(), "the program has the port open"
    assert threads(app) == idle_threads + 1, "one receive thread"

    line = pair.stty().split()
    for setting in ("19200", "cs8", "-parenb", "-cstopb", "-crtscts", "-ixon", "-ixoff",
                    "-icanon", "-echo", "-isig", "-opost"):
        assert setting in line, (setting, line)

    sent = play(env, pair, ["s003.bin"])
    app.expect_stream(sent, 2, 0)

    close_link(setup)
    assert pair.holders() == set(), "the port is closed"
    wait_until(lambda: threads(app) == idle_threads, 5, "the receive thread to end")
    # While closed nothing is read; what arrives meanwhile is dropped at the next open.
    pair.send(b"\x89")
    time.sleep(0.5)
    app.expect_stream(sent, 2, 0, timeout=0)

    # Reopened, the interpreter goes on from where it was.
    setup.click(LINK)
    setup.wait_text(LINK, "Close I/F")
    sent += play(env, pair, ["s004.bin"])
    app.expect_stream(sent, 2, 0)
    close_link(setup)
    assert app.close() == 0


def test_recorded_sessions_match_the_renderer(env):
    pair = env.serial(22)
    app = env.launch(lcd.config(com_port=22, blk_on_grn=1, scale=4))
    setup = open_link(app)
    setup.post(WM_CLOSE)  # the link stays open
    setup.wait_closed()
    sent = play(env, pair, ["s000.bin", "s009.bin"])
    app.expect_stream(sent, 4, 1)
    sent += play(env, pair, ["s011.bin"], ["--fast"])
    app.expect_stream(sent, 4, 1)
    assert app.close() == 0


def test_port_names_and_open_failures(env):
    # Below 10 the port opens as COMn, from 10 up only as \\.\COMn.
    for number in (env.free_port_number(range(1, 10)), env.free_port_number(range(10, 20))):
        pair = env.serial(number)
        app = env.launch(lcd.config(com_port=number))
        close_link(open_link(app))
        pair.close()
        app.kill()

    not_a_port = env.scratch("not-a-port")
    with open(not_a_port, "wb") as f:
        f.write(b"\0")
    os.symlink(not_a_port, os.path.join(env.prefix, "dosdevices", "com26"))
    try:
        for port, text in ((0, "Com Open Fail"), (27, "Com Open Fail"), (26, "Get State Fail")):
            app = env.launch(lcd.config(com_port=port))
            idle_threads = threads(app)
            setup = app.open_setup()
            setup.click(LINK)
            setup.wait_text(LINK_STATUS, text)
            assert setup.text(LINK) == "Open I/F"
            assert threads(app) == idle_threads
            # A port that opened but could not be set up is closed again.
            assert holders_of(not_a_port) == set()
            app.kill()
    finally:
        os.unlink(os.path.join(env.prefix, "dosdevices", "com26"))


def scribble(app):
    """Paints a red mark over the LCD from outside; the next paint removes it."""
    app.env.probe.call("fill %d 2 40 6 6 %d" % (app.hwnd, RED))


def scribbled(app):
    return app.capture().pixel(4, 42) == (255, 0, 0)


def test_flash_message_expires_once_and_a_reset_cancels_it(env):
    pair = env.serial(24)
    app = env.launch(lcd.config(com_port=24, scale=2))
    setup = open_link(app)
    setup.post(WM_CLOSE)
    setup.wait_closed()

    def status_line_shown(stream):
        return env.render_stream(stream + b"\x9e", 2, 1)
    # The status bits (here ESC) show in the status line, so a redraw tells
    # whether they were cleared.
    assert status_line_shown(b"\x96\x80") != status_line_shown(b"\x96\x80\x96\x00")

    sent = b"\x87\x96\x80\x9e" + b"\xa1FLSH"
    sent_at = time.monotonic()
    pair.send(sent)
    app.expect_stream(sent, 2, 1)
    scribble(app)
    # Fifteen ticks later the tick clears the status bits and repaints once:
    # the mark goes, the flash text stays.
    wait_until(lambda: not scribbled(app), 10, "the repaint at the flash's expiry")
    assert time.monotonic() - sent_at >= 1.4
    app.expect_stream(sent, 2, 1, timeout=0)
    scribble(app)
    time.sleep(1)
    assert scribbled(app), "no further repaint"
    pair.send(b"\x9e")
    sent += b"\x96\x00\x9e"
    app.expect_stream(sent, 2, 1)

    # A reset while a flash is pending cancels its expiry: no repaint comes,
    # and the status bits stay set.
    pending = b"\x96\x80\xa1WXYZ\x87"
    pair.send(pending)
    sent += pending
    app.expect_stream(sent, 2, 1)
    scribble(app)
    time.sleep(2.5)
    assert scribbled(app), "no repaint at the cancelled expiry"
    pair.send(b"\x9e")
    sent += b"\x9e"
    app.expect_stream(sent, 2, 1)
    assert app.close() == 0


def test_close_and_reopen_at_once_while_the_modem_streams(env):
    pair = env.serial(25)
    app = env.launch(lcd.config(com_port=25))
    idle_threads = threads(app)
    names = sorted(name for name in os.listdir(DATA) if name.endswith(".bin"))
    modem = env.modem(pair, [os.path.join(DATA, name) for name in names], ["--fast", "--demo"])
    setup = open_link(app)
    env.probe.call("watch %d" % app.hwnd)
    closing, opening = [], []
    for _ in range(20):
        started = time.monotonic()
        close_link(setup)
        closing.append(time.monotonic() - started)
        started = time.monotonic()
        setup.click(LINK)
        setup.wait_text(LINK, "Close I/F")
        opening.append(time.monotonic() - started)
    fewest, most, samples = (int(n) for n in env.probe.value("watched").split())
    print("close %.3f..%.3f s, open %.3f..%.3f s, threads %d..%d in %d samples"
          % (min(closing), max(closing), min(opening), max(opening), fewest, most, samples))
    assert (fewest, most) == (idle_threads, idle_threads + 1), "never two receive threads"
    assert modem.poll() is None, ("the modem streamed all along", modem.returncode)

    follows_the_stream_after_the_last_open(app, setup, pair, modem)
