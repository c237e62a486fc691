"""Benchmarks of the native program, beside the Wine build's, on the same
Xvfb: start to first frame, line-rate lag, capacity, idle CPU and resident
memory. The Windows figures' sessions and streams are reused: a native
session is a Session whose program is build/q72display, opened with --open,
and whose watcher reads the screen through Xlib."""

import ctypes
import ctypes.util
import os
import subprocess
import tempfile
import time

import harness
from images import Image
from run_bench import (BLK_ON_GRN, IDLE_SECONDS, BenchError, Session, capacity_run,
                       line_rate_run, process_ticks)

WINDOW_X, WINDOW_Y = 50, 50  # where the program puts its window
ALL_PLANES = 0xFFFFFFFF
Z_PIXMAP = 2
FIRST_PORT = 40  # COM41..COM44 for the scales
START_SCALE = 4


class Screen:
    """Reads single pixels of the X screen, about every millisecond."""

    def __init__(self, display):
        xlib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        xlib.XOpenDisplay.restype = ctypes.c_void_p
        xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        xlib.XDefaultRootWindow.restype = ctypes.c_ulong
        xlib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        xlib.XGetImage.restype = ctypes.c_void_p
        xlib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                   ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        xlib.XGetPixel.restype = ctypes.c_ulong
        xlib.XGetPixel.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int]
        xlib.XDestroyImage.argtypes = [ctypes.c_void_p]
        xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.xlib = xlib
        self.display = display
        self.connection = xlib.XOpenDisplay(display.encode())
        if not self.connection:
            raise BenchError("cannot open X display " + display)
        self.root = xlib.XDefaultRootWindow(self.connection)

    def pixel(self, x, y):
        image = self.xlib.XGetImage(self.connection, self.root, x, y, 1, 1, ALL_PLANES, Z_PIXMAP)
        if not image:
            return None
        value = self.xlib.XGetPixel(image, 0, 0)
        self.xlib.XDestroyImage(image)
        return bytes(((value >> 16) & 255, (value >> 8) & 255, value & 255))

    def wait(self, origin, marker, colour, ppm, timeout):
        """Waits until the window at `origin` shows `colour` at `marker`,
        then checks that it shows the picture in `ppm`; returns when the
        marker was seen."""
        x, y = origin[0] + marker[0], origin[1] + marker[1]
        deadline = time.monotonic() + timeout
        while self.pixel(x, y) != bytes(colour):
            if time.monotonic() > deadline:
                raise BenchError("final screen not shown within %d s" % timeout)
            time.sleep(0.001)
        seen = time.monotonic()
        with open(ppm, "rb") as f:
            expected = Image.from_ppm(f.read())
        shown = subprocess.run(
            ["import", "-display", self.display, "-depth", "8", "-window", "root", "-crop",
             "%dx%d+%d+%d" % (expected.width, expected.height, origin[0], origin[1]), "+repage",
             "ppm:-"], check=True, capture_output=True).stdout
        if Image.from_ppm(shown) != expected:
            raise BenchError("the native window's final screen differs from q72render's: "
                             + Image.from_ppm(shown).difference(expected))
        return seen

    def close(self):
        self.xlib.XCloseDisplay(self.connection)


class Program:
    """One run of the native program; `hwnd` is where the watcher looks.
    What it prints on standard output is kept in `stdout_path`."""

    hwnd = (WINDOW_X, WINDOW_Y)

    def __init__(self, env, program, args):
        self.config = tempfile.mkdtemp(prefix="q72native-", dir=env.root)
        self.stdout_path = os.path.join(self.config, "stdout.txt")
        with open(self.stdout_path, "wb") as out:
            self.process = subprocess.Popen(
                [program] + args, env=dict(env.wine_env, XDG_CONFIG_HOME=self.config),
                stdin=subprocess.DEVNULL, stdout=out, stderr=env.log)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait()


def first_frame_ms(env, screen, program):
    """From starting the program to its start-up screen shown, white on blue
    at 4x (a clear pixel, blue, that nothing else on the screen has)."""
    picture = env.render_stream(b"", START_SCALE, 0)
    ppm = env.scratch("native-startup.ppm")
    picture.save_ppm(ppm)
    started = time.monotonic()
    app = Program(env, program, ["--scale", str(START_SCALE), "--scheme", "blue"])
    try:
        seen = screen.wait(Program.hwnd, (0, 0), picture.pixel(0, 0), ppm, 20)
    finally:
        app.stop()
    return (seen - started) * 1000


class NativeSession(Session):
    """A Session of the native program, its link opened with --open, and
    `extra` options."""

    def __init__(self, env, screen, program, scale, port, extra=()):
        self.env = env
        self.watcher = screen
        self.scale = scale
        self.pair = env.serial(port)
        self.app = Program(env, program, ["--port", self.pair.device, "--open", "--scale",
                                          str(scale), "--scheme", "green"] + list(extra))
        self.sent = b""
        self.shown = env.render_stream(b"", scale, BLK_ON_GRN)
        self.count = 0
        ppm = env.scratch("native-startup.ppm")
        self.shown.save_ppm(ppm)
        # A clear pixel: the screen has nothing else of that colour.
        screen.wait(self.app.hwnd, (0, 0), self.shown.pixel(0, 0), ppm, 10)
        harness.wait_until(self.pair.holders, 5, "the native program to open its port")
        time.sleep(0.6)  # the port settles, then what came so far is dropped


def memory_kb(pid):
    """(resident now, resident at most) in kB."""
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            name, _, value = line.partition(":")
            fields[name] = value.split()
    return int(fields["VmRSS"][0]), int(fields["VmHWM"][0])


def idle_run(env, session):
    """CPU of the program in % of one core over IDLE_SECONDS, link open and
    the modem silent, and its resident memory."""
    modem = env.modem(session.pair)
    time.sleep(1)
    pid = session.app.process.pid
    before = process_ticks(pid)
    started = time.monotonic()
    time.sleep(IDLE_SECONDS)
    ticks = process_ticks(pid) - before
    seconds = time.monotonic() - started
    modem.kill()
    modem.wait()
    rss, peak = memory_kb(pid)
    return {"program": ticks / os.sysconf("SC_CLK_TCK") / seconds * 100, "rss_kb": rss,
            "peak_kb": peak}


def run(env, native_build, runs, scales):
    """The native figures, as run_bench.py collects the Wine build's."""
    program = os.path.join(native_build, "q72display")
    if not os.path.isfile(program):
        raise BenchError("missing build output " + program)
    screen = Screen(env.display)
    results = {"line": {}, "capacity": {}}
    try:
        results["start_ms"] = [first_frame_ms(env, screen, program) for _ in range(runs)]
        for scale in scales:
            print("bench: native program at %dx" % scale, flush=True)
            session = NativeSession(env, screen, program, scale, FIRST_PORT + scale)
            try:
                results["line"][scale] = [line_rate_run(session) for _ in range(runs)]
                results["capacity"][scale] = [capacity_run(session) for _ in range(runs)]
                if scale == scales[-1]:
                    results["idle"] = [idle_run(env, session) for _ in range(runs)]
            finally:
                session.app.stop()
                env.end_test()
    finally:
        screen.close()
    return results
