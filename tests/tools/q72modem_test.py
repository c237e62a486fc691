"""Tests of q72modem, the simulated modem, at the far end of a socat pty pair.

usage: q72modem_test.py [Q72MODEM [Q72RENDER]] [unittest options]

The paths may also come from the environment variables Q72MODEM and Q72RENDER;
q72render defaults to the one beside q72modem. Needs socat.
"""
import os
import random
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import time
import unittest

MODEM = os.environ.get("Q72MODEM", "")
RENDER = os.environ.get("Q72RENDER", "")

LOG_LINE = re.compile(r"^(\d+\.\d{6}) 0x([0-9A-F]{2})$")


class PtyPair:
    """A virtual null-modem cable: the modem opens `near`, the test `far`.
    The near end starts with the usual cooked settings (echo, CR/LF
    translation, XON/XOFF), so only a modem that sets the line raw passes."""

    def __init__(self, directory):
        self.near = os.path.join(directory, "near")
        self.far = os.path.join(directory, "far")
        self.socat = subprocess.Popen(
            ["socat", f"pty,link={self.near}", f"pty,raw,echo=0,link={self.far}"],
            stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 5
        while not (os.path.exists(self.near) and os.path.exists(self.far)):
            if time.monotonic() > deadline or self.socat.poll() is not None:
                self.close()
                raise RuntimeError("socat did not make the pty pair")
            time.sleep(0.02)
        # socat set the far end raw; opening it without touching termios keeps
        # whatever is already queued there.
        self.fd = os.open(self.far, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)

    def read(self, until, stop=lambda: False):
        """Collects (arrival time, bytes) chunks until the monotonic time `until`
        or until stop() is true and nothing has arrived for 0.3 s."""
        chunks = []
        quiet_since = time.monotonic()
        while True:
            now = time.monotonic()
            if now >= until or (stop() and now - quiet_since > 0.3):
                return chunks
            ready, _, _ = select.select([self.fd], [], [], 0.05)
            if ready:
                try:
                    data = os.read(self.fd, 65536)
                except BlockingIOError:
                    continue
                chunks.append((time.monotonic(), data))
                quiet_since = time.monotonic()

    def write(self, data):
        os.write(self.fd, data)

    def close(self):
        if getattr(self, "fd", None) is not None:
            os.close(self.fd)
            self.fd = None
        if self.socat.poll() is None:
            self.socat.terminate()
            self.socat.wait(5)


def joined(chunks):
    return b"".join(data for _, data in chunks)


def parse_log(text):
    """The logged key codes as (seconds, code) pairs; fails on a malformed line."""
    entries = []
    for line in text.splitlines():
        match = LOG_LINE.match(line)
        if not match:
            raise AssertionError(f"malformed log line {line!r}")
        entries.append((float(match.group(1)), int(match.group(2), 16)))
    return entries


def render(stream, directory):
    """The final screen of a display stream as 64 rows of 128 pixels."""
    stream_path = os.path.join(directory, "screen.bin")
    image_path = os.path.join(directory, "screen.pbm")
    with open(stream_path, "wb") as f:
        f.write(stream)
    subprocess.run([RENDER, stream_path, image_path], check=True, stdout=subprocess.DEVNULL)
    with open(image_path) as f:
        tokens = f.read().split()
    assert tokens[:3] == ["P1", "128", "64"], tokens[:3]
    return [[int(c) for c in row] for row in tokens[3:67]]


def cell(image, col, row):
    """The glyph area of text cell (col, row), 1-based: 5 x 8 pixels."""
    return tuple(tuple(image[y][x] for x in range(6 * col - 4, 6 * col + 1))
                 for y in range(8 * row - 8, 8 * row))


def row_text(image, row, glyphs):
    """Reads a text row back, '?' for a cell matching none of `glyphs`."""
    return "".join(next((ch for ch, g in glyphs.items() if g == cell(image, col, row)), "?")
                   for col in range(1, 22))


def reference_glyphs(chars, directory):
    """The cells the interpreter draws for `chars`, plus ' ' for a blank cell."""
    stream = bytes([0x8C, 1]) + chars.encode().ljust(21)
    image = render(stream, directory)
    glyphs = {ch: cell(image, k + 1, 1) for k, ch in enumerate(chars)}
    glyphs[" "] = cell(image, 21, 1)
    return glyphs


class ModemTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.tmp = self.dir.name
        self.line = PtyPair(self.tmp)
        self.procs = []

    def tearDown(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            for pipe in (proc.stdin, proc.stdout, proc.stderr):
                if pipe:
                    pipe.close()
        self.line.close()
        self.dir.cleanup()

    def start(self, *args, **kwargs):
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("stderr", subprocess.PIPE)
        proc = subprocess.Popen([MODEM, *args], **kwargs)
        self.procs.append(proc)
        return proc

    def finish(self, proc, timeout=10):
        out, err = proc.communicate(timeout=timeout)
        return proc.returncode, out.decode(), err.decode()

    def file(self, name, data):
        path = os.path.join(self.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


class StreamPlayback(ModemTestCase):
    def test_fast_mode_delivers_files_and_stdin_byte_exact_in_order(self):
        rng = random.Random(7)
        # Every byte value, including NUL, CR, LF, XON and XOFF, must pass untouched.
        first = bytes(range(256)) * 40
        second = bytes(rng.randrange(256) for _ in range(30000))
        piped = bytes(rng.randrange(256) for _ in range(5000))
        proc = self.start("--fast", self.line.near, self.file("a.bin", first),
                          self.file("b.bin", second), "-", stdin=subprocess.PIPE)
        proc.stdin.write(piped)
        proc.stdin.close()
        proc.stdin = None
        got = joined(self.line.read(time.monotonic() + 20, lambda: proc.poll() is not None))
        rc, out, err = self.finish(proc)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(len(got), len(first + second + piped))
        self.assertEqual(got, first + second + piped)

    def test_paced_mode_keeps_to_the_line_speed(self):
        data = bytes(random.Random(3).randrange(256) for _ in range(1000))
        started = time.monotonic()
        proc = self.start(self.line.near, self.file("s.bin", data))
        chunks = self.line.read(started + 20, lambda: proc.poll() is not None)
        rc, _, err = self.finish(proc)
        self.assertEqual((rc, err), (0, ""))
        self.assertEqual(joined(chunks), data)
        # 1000 bytes at 1920 bytes/s take 0.52 s; load can only make it slower.
        self.assertGreaterEqual(chunks[-1][0] - started, 0.45)
        self.assertGreater(len(chunks), 5, "sent in a burst, not paced")

    def test_lingers_after_the_stream_to_collect_key_codes(self):
        log = os.path.join(self.tmp, "keys.log")
        stream = bytes([0x89, 0x8C, 2]) + b"HELLO".ljust(21)
        proc = self.start("--fast", "--linger", "1.5", "--log", log, self.line.near,
                          self.file("s.bin", stream))
        got = b""
        deadline = time.monotonic() + 5
        while len(got) < len(stream) and time.monotonic() < deadline:
            got += joined(self.line.read(time.monotonic() + 0.1))
        self.assertEqual(got, stream)
        self.line.write(bytes([0xE9, 0x41]))
        rc, out, err = self.finish(proc)
        self.assertEqual((rc, out, err), (0, "", ""))
        with open(log) as f:
            self.assertEqual([code for _, code in parse_log(f.read())], [0xE9, 0x41])


class KeyLog(ModemTestCase):
    def assert_line_settings(self):
        """19200 baud, 8N1, no flow control, raw."""
        fd = os.open(self.line.near, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            iflag, oflag, cflag, lflag, ispeed, ospeed, _ = termios.tcgetattr(fd)
        finally:
            os.close(fd)
        self.assertEqual((ispeed, ospeed), (termios.B19200, termios.B19200))
        self.assertEqual(cflag & termios.CSIZE, termios.CS8)
        self.assertFalse(cflag & (termios.PARENB | termios.CSTOPB | termios.CRTSCTS))
        self.assertFalse(iflag & (termios.IXON | termios.IXOFF | termios.ICRNL | termios.ISTRIP))
        self.assertFalse(oflag & termios.OPOST)
        self.assertFalse(lflag & (termios.ICANON | termios.ECHO | termios.ISIG))

    def test_every_byte_is_logged_in_order_and_wait_keys_stops_after_n(self):
        log = os.path.join(self.tmp, "keys.log")
        proc = self.start("--wait-keys", "6", "--log", log, self.line.near)
        codes = [0x48, 0x00, 0xF6, 0x0D, 0x11, 0xFF]
        time.sleep(0.2)
        self.line.write(bytes(codes[:2]))
        time.sleep(0.3)
        # Two more than awaited: the modem stops after the sixth.
        self.line.write(bytes(codes[2:]) + bytes([0x41, 0x42]))
        rc, out, err = self.finish(proc)
        self.assertEqual((rc, out, err), (0, "", ""))
        with open(log) as f:
            entries = parse_log(f.read())
        self.assertEqual([code for _, code in entries], codes)
        times = [t for t, _ in entries]
        self.assertEqual(times, sorted(times))
        self.assertGreaterEqual(times[2] - times[1], 0.1, "times do not follow arrival")

    def test_stdout_log_is_flushed_per_line_and_sigterm_ends_cleanly(self):
        proc = self.start(self.line.near)
        time.sleep(0.2)
        self.assert_line_settings()
        self.line.write(b"\xe2")
        ready, _, _ = select.select([proc.stdout], [], [], 5)
        self.assertTrue(ready, "no log line while running")
        line = proc.stdout.readline().decode()
        self.assertEqual(parse_log(line)[0][1], 0xE2)
        self.assertIsNone(proc.poll(), "listening modem stopped by itself")
        proc.send_signal(signal.SIGTERM)
        rc, out, err = self.finish(proc, timeout=3)
        self.assertEqual((rc, out, err), (0, "", ""))


class Failures(ModemTestCase):
    def expect_usage_error(self, args, message):
        started = time.monotonic()
        result = subprocess.run([MODEM, *args], capture_output=True, text=True, timeout=5)
        self.assertLess(time.monotonic() - started, 3, args)
        self.assertEqual(result.returncode, 2, args)
        self.assertEqual(result.stdout, "", args)
        self.assertRegex(result.stderr, r"^q72modem: [^\n]+\n$", args)
        self.assertIn(message, result.stderr, args)

    def test_bad_arguments_exit_2_with_one_line(self):
        near = self.line.near
        for args, message in [
            ([], "DEVICE"),
            (["--bogus", near], "--bogus"),
            (["--duration"], "--duration"),
            (["--duration", "-1", near], "-1"),
            (["--linger", "soon", near], "soon"),
            (["--wait-keys", "0", near], "--wait-keys"),
            (["--wait-keys", "2x", near], "2x"),
            (["--demo", "--linger", "1", near], "--linger"),
            ([near, os.path.join(self.tmp, "missing.bin")], "missing.bin"),
            (["--log", os.path.join(self.tmp, "no", "dir.log"), near], "dir.log"),
        ]:
            self.expect_usage_error(args, message)

    def test_missing_or_unusable_device_exits_2_at_once(self):
        self.expect_usage_error([os.path.join(self.tmp, "ttyNone")], "ttyNone")
        self.expect_usage_error([self.file("plain", b"")], "not a serial device")

    def test_help_and_version_go_to_stdout(self):
        for option, start in (("--help", "usage: q72modem"),
                              ("--version", "q72modem %s\n" % os.environ["Q72_VERSION"])):
            result = subprocess.run([MODEM, option], capture_output=True, text=True, timeout=5)
            self.assertEqual((result.returncode, result.stderr), (0, ""))
            self.assertTrue(result.stdout.startswith(start), result.stdout)

    def test_pulled_cable_ends_the_run_with_status_1(self):
        proc = self.start(self.line.near)
        time.sleep(0.3)
        self.line.close()
        rc, out, err = self.finish(proc, timeout=5)
        self.assertEqual(rc, 1)
        self.assertRegex(err, r"^q72modem: [^\n]+\n$")


class DemoSession(ModemTestCase):
    def setUp(self):
        super().setUp()
        self.glyphs = reference_glyphs("RXTCQ-HIJ<F6>", self.tmp)

    def test_demo_shows_status_received_text_and_echoed_keys(self):
        log = os.path.join(self.tmp, "keys.log")
        started = time.monotonic()
        proc = self.start("--demo", "--duration", "5", "--log", log, self.line.near)
        chunks = self.line.read(started + 1.0)
        # H I X, Backspace, J, Enter, Q, then the Shift+Ctrl chord code.
        keys = b"HIX\xedJ\xe9Q\xf6"
        self.line.write(keys)
        chunks += self.line.read(started + 15, lambda: proc.poll() is not None)
        rc, out, err = self.finish(proc)
        self.assertEqual((rc, out, err), (0, "", ""))
        with open(log) as f:
            self.assertEqual(bytes(code for _, code in parse_log(f.read())), keys)

        screen = render(joined(chunks), self.tmp)
        row1 = row_text(screen, 1, self.glyphs)
        self.assertEqual(row1[0:2], "RX", row1)
        self.assertEqual(row1[17:19], "TX", row1)
        self.assertTrue(row_text(screen, 2, self.glyphs).startswith("CQ"))
        self.assertEqual(row_text(screen, 5, self.glyphs), "-" * 21)
        self.assertEqual(row_text(screen, 6, self.glyphs), "HIJ".ljust(21))
        self.assertEqual(row_text(screen, 7, self.glyphs), "Q<F6>".ljust(21))

        # A program that links late, after the opening screen was sent (and
        # cutting into a command), still gets the whole screen within seconds.
        late = [data for t, data in chunks if t > started + 1.5]
        screen = render(b"".join(late)[1:], self.tmp)
        row1 = row_text(screen, 1, self.glyphs)
        self.assertEqual((row1[0:2], row1[17:19]), ("RX", "TX"), row1)
        self.assertEqual(row_text(screen, 5, self.glyphs), "-" * 21)
        self.assertEqual(row_text(screen, 6, self.glyphs), "HIJ".ljust(21))

    def test_wait_keys_ends_the_demo_after_echoing_the_last_key(self):
        started = time.monotonic()
        proc = self.start("--demo", "--wait-keys", "2", "--duration", "10", self.line.near)
        chunks = self.line.read(started + 0.5)
        self.line.write(b"TX")
        chunks += self.line.read(started + 15, lambda: proc.poll() is not None)
        rc, out, err = self.finish(proc)
        self.assertEqual((rc, err), (0, ""))
        self.assertLess(time.monotonic() - started, 5, "the demo ran on after the keys")
        self.assertEqual([code for _, code in parse_log(out)], [0x54, 0x58])
        screen = render(joined(chunks), self.tmp)
        self.assertEqual(row_text(screen, 6, self.glyphs), "TX".ljust(21))


def main():
    global MODEM, RENDER
    args = sys.argv[1:]
    while args and not args[0].startswith("-"):
        if not MODEM:
            MODEM = args.pop(0)
        elif not RENDER:
            RENDER = args.pop(0)
        else:
            break
    if not MODEM:
        sys.exit("usage: q72modem_test.py Q72MODEM [Q72RENDER] (or set Q72MODEM)")
    if not shutil.which("socat"):
        sys.exit("q72modem_test.py: socat is not installed")
    MODEM = os.path.abspath(MODEM)
    RENDER = os.path.abspath(RENDER or os.path.join(os.path.dirname(MODEM), "q72render"))
    unittest.main(argv=[sys.argv[0], *args])


if __name__ == "__main__":
    main()
