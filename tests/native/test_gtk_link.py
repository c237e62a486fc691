"""The link: line settings, recorded sessions through a socat pty pair shown
pixel-identical to q72render's (start-up screen first), --record, closing and
reopening while the modem streams, and the cable pulled and replugged, also
with the device missing at start."""

import os
import time

from gtk_harness import CANCEL, LINK, LOST_TITLE, TITLE
from harness import cpu_seconds, wait_until
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
    app.wait_title(LOST_TITLE, 2)
    assert app.windows() == [app.xid], "no message box"
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
    shown = app.capture()
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
    assert not pair.holders(), "not reopened after Close I/F"
    assert app.close() == 0
