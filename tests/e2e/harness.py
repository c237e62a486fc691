"""End-to-end harness: the Windows program under Wine on a private X display.

One Env per run owns a private Xvfb, a private Wine prefix with a persistent
wineserver, and one q72probe.exe process that looks at windows from inside
Wine. Each test launches q72display.exe in a folder of its own (App) with the
configuration file it wants. Env.close() stops exactly what Env started.
Env.unprivileged() gives a second prefix on the same display whose Wine
processes run as an ordinary user, for what root's rights would hide, and
Env.scaled() one whose display has another DPI.
"""

import contextlib
import ctypes
import errno
import os
import pwd
import re
import resource
import shutil
import signal
import struct
import subprocess
import tempfile
import time

import lcd
from images import Image

TITLE = "Q72display 1.0"
LOST_TITLE = "Q72display 1.0 - link lost"  # the main window's caption while the device is gone
CLASS = "T83displClass"
EXE_NAME = "q72display.exe"

WM_CLOSE = 0x0010
WM_KEYDOWN = 0x0100
WM_KEYUP = 0x0101
WM_CHAR = 0x0102
WM_SYSKEYDOWN = 0x0104
WM_SYSKEYUP = 0x0105
WM_COMMAND = 0x0111
WM_TIMER = 0x0113
WM_RBUTTONDOWN = 0x0204
WS_EX_TOPMOST = 0x0008
CMD_APPLY_SETTINGS = 4567  # WM_COMMAND: re-apply position and size
CMD_ABOUT = 6001           # WM_COMMAND: open the setup dialog
SETUP_TITLE = "Q72display 1.0 Setup"
PORT_TITLE = "Select Com Port"
# Setup dialog items
BLACK_ON_GREEN, WHITE_ON_BLUE, SET_COM_PORT, LINK, CANCEL = 4002, 4003, 4005, 4006, 4007
SIZE_LIST, COM_PORT_TEXT, DONE, LINK_STATUS = 4008, 4010, 4011, 4012
# Port dialog items
OK, PORT_CANCEL, PORT_LIST = 1, 2, 4001


class HarnessError(Exception):
    """The harness itself could not do its part (not a failed expectation)."""


def wait_until(predicate, timeout, what, interval=0.02):
    """Polls until predicate() returns a true value and returns that value."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def holders_of(path):
    """Process ids that have the file `path` open."""
    found = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            fds = os.listdir("/proc/%s/fd" % pid)
            if any(os.readlink("/proc/%s/fd/%s" % (pid, fd)) == path for fd in fds):
                found.add(int(pid))
        except OSError:
            continue  # gone, or not ours to look at
    return found


def descriptor_of(pid, fd):
    """A copy of descriptor `fd` of process `pid` (pidfd_getfd), made without
    opening the file again; allowed for our own user's processes."""
    pidfd = os.pidfd_open(pid)
    try:
        libc = ctypes.CDLL(None, use_errno=True)
        copy = libc.syscall(438, pidfd, fd, 0)  # SYS_pidfd_getfd
        if copy < 0:
            raise OSError(ctypes.get_errno(), "pidfd_getfd of %d's descriptor %d" % (pid, fd))
        return copy
    finally:
        os.close(pidfd)


class OpenWatch:
    """Counts the times a file is opened from now on, by any process (inotify)."""

    IN_OPEN = 0x20

    def __init__(self, path):
        libc = ctypes.CDLL(None, use_errno=True)
        self.fd = libc.inotify_init1(os.O_NONBLOCK | os.O_CLOEXEC)
        if self.fd < 0:
            raise HarnessError("inotify_init1: errno %d" % ctypes.get_errno())
        if libc.inotify_add_watch(self.fd, path.encode(), self.IN_OPEN) < 0:
            os.close(self.fd)
            raise HarnessError("inotify_add_watch %s: errno %d" % (path, ctypes.get_errno()))
        self.opened = 0

    def count(self):
        """Opens so far."""
        while True:
            try:
                data = os.read(self.fd, 4096)
            except BlockingIOError:
                return self.opened
            pos = 0
            while pos < len(data):
                _, mask, _, length = struct.unpack_from("iIII", data, pos)
                self.opened += bool(mask & self.IN_OPEN)
                pos += 16 + length

    def close(self):
        os.close(self.fd)


def cpu_seconds(pid):
    """User plus system CPU time a process has used so far, in seconds."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def windows_path(path):
    """The Wine name of a Unix path (drive Z: is the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Xvfb:
    """A private X server on the first free display number."""

    def __init__(self, log):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=[write_end], stdout=log, stderr=log, stdin=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            self.stop()
            raise HarnessError("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Probe:
    """q72probe.exe, kept running; one command per line (see q72probe.cpp)."""

    def __init__(self, exe, env, log, **as_user):
        self.process = subprocess.Popen(
            ["wine", exe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=log, **as_user)

    def call(self, command):
        """Returns (data_lines, value) for 'ok value'; raises on 'err'."""
        self.process.stdin.write(command.encode("latin-1") + b"\n")
        self.process.stdin.flush()
        lines = []
        while True:
            raw = self.process.stdout.readline()
            if not raw:
                raise HarnessError("q72probe ended during: " + command)
            text = raw.decode("latin-1").rstrip("\r\n")
            if text == "ok" or text.startswith("ok "):
                return lines, text[3:]
            if text.startswith("err "):
                raise HarnessError("q72probe %s: %s" % (command, text[4:]))
            lines.append(text)

    def value(self, command):
        return self.call(command)[1]

    def numbers(self, command):
        return [int(word, 0) for word in self.value(command).split()]

    def stop(self):
        end_by_stdin(self.process, 5)


def end_by_stdin(process, timeout):
    """Ends a helper that reads commands on its standard input by closing it;
    kills it if it has not ended after `timeout` seconds."""
    if process.poll() is None:
        process.stdin.close()
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


class SerialPair:
    """A null-modem cable made of two ptys joined by socat. The program's end
    is linked into the prefix as COMn, the other end, `peer`, is where the
    modem sits. Wine maps the machine's serial devices to the lowest numbers
    whenever a server starts, so links from 20 up are the safe ones."""

    def __init__(self, env, number):
        self.env = env
        self.number = number
        self.device = env.scratch("com%d-program" % number)
        self.peer = env.scratch("com%d-modem" % number)
        self._connect()
        self.link = os.path.join(env.prefix, "dosdevices", "com%d" % number)
        os.symlink(self.device, self.link)
        self.registered = "Q72Modem%d" % number
        self.register()

    def register(self):
        """Lists the port as present, as its driver would while the device is there."""
        self.env.probe.call("register %s COM%d" % (self.registered, self.number))
        self.listed = True

    def unregister(self):
        if self.listed:
            self.env.probe.call("unregister " + self.registered)
            self.listed = False

    def _connect(self):
        self.process = subprocess.Popen(
            ["socat", "-d", "-d", "pty,raw,echo=0,link=" + self.device,
             "pty,raw,echo=0,link=" + self.peer],
            stdin=subprocess.DEVNULL, stdout=self.env.log, stderr=self.env.log)
        wait_until(lambda: os.path.exists(self.device) and os.path.exists(self.peer), 10,
                   "socat's ptys for com%d" % self.number)
        self.tty = os.path.realpath(self.device)

    def pull(self):
        """Pulls the cable: socat is killed, its ptys go, and the links to them
        stay behind pointing nowhere, like the name of an unplugged adapter,
        and the driver takes the port off the list of present ports."""
        self.process.kill()
        self.process.wait()
        self.unregister()

    def replug(self):
        """The device comes back under the same names (a new pair of ptys)."""
        self._connect()
        self.register()

    def stop_reading(self):
        """The far end stops taking bytes: socat is stopped, so what the
        program writes piles up in its pty until writes stay pending."""
        self.process.send_signal(signal.SIGSTOP)

    def resume_reading(self):
        self.process.send_signal(signal.SIGCONT)

    def opens(self):
        """An OpenWatch on the program's end (socat's own open is before it)."""
        watch = OpenWatch(self.tty)
        self.env.watches.append(watch)
        return watch

    def holders(self):
        """Processes other than socat that have the program's end open."""
        return holders_of(self.tty) - {self.process.pid}

    def open_end(self, flags):
        """A descriptor of the program's end. A program that holds it
        exclusively (TIOCEXCL) keeps every other opener but root out: then a
        copy of its own descriptor."""
        try:
            return os.open(self.device, flags)
        except OSError as error:
            if error.errno != errno.EBUSY:
                raise
        for pid in self.holders():
            for fd in os.listdir("/proc/%d/fd" % pid):
                if os.readlink("/proc/%d/fd/%s" % (pid, fd)) == self.tty:
                    return descriptor_of(pid, int(fd))
        raise HarnessError("%s is busy, and no program holds it" % self.device)

    def stty(self):
        """The line settings of the program's end, as `stty -a` prints them."""
        fd = self.open_end(os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
        try:
            return subprocess.run(["stty", "-a"], stdin=fd, check=True, capture_output=True,
                                  text=True).stdout
        finally:
            os.close(fd)

    def send(self, data):
        """Writes bytes from the modem's end."""
        with open(self.peer, "wb", buffering=0) as f:
            f.write(data)

    def close(self):
        if os.path.lexists(self.link):
            os.unlink(self.link)
        self.unregister()
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)  # a stopped socat ends only once resumed
            self.process.terminate()
            self.process.wait()


class Dialog:
    """A dialog of the program, driven through the probe."""

    def __init__(self, app, title, timeout=10):
        self.app = app
        self.probe = app.env.probe
        self.title = title
        self.hwnd = wait_until(lambda: app.find_window(title), timeout, "dialog " + title)
        # The window exists before its controls and its WM_INITDIALOG; a sent
        # message is answered only once the dialog's message loop runs.
        self.probe.call("send %d 0 0 0" % self.hwnd)

    def text(self, ident):
        return self.probe.value("text %d %d" % (self.hwnd, ident))

    def click(self, ident):
        """Posts a click, so that a dialog it opens does not block the probe."""
        self.probe.call("click %d %d" % (self.hwnd, ident))

    def checked(self, ident):
        return int(self.probe.value("check %d %d" % (self.hwnd, ident)))

    def items(self, ident):
        """(entries, selected position) of a combo box."""
        lines, selected = self.probe.call("cbitems %d %d" % (self.hwnd, ident))
        return lines, int(selected)

    def select(self, ident, position):
        self.probe.call("cbsel %d %d %d" % (self.hwnd, ident, position))

    def post(self, msg, wparam=0, lparam=0):
        self.probe.call("post %d %d %d %d" % (self.hwnd, msg, wparam, lparam))

    def is_open(self):
        return self.probe.value("exists %d" % self.hwnd) == "1"

    def wait_text(self, ident, text, timeout=10):
        wait_until(lambda: self.text(ident) == text, timeout,
                   "%r in item %d of %s" % (text, ident, self.title))

    def wait_closed(self, timeout=10):
        wait_until(lambda: not self.is_open(), timeout, self.title + " to close")


class App:
    """One run of q72display.exe in its own folder."""

    def __init__(self, env, folder, exe_name):
        self.env = env
        self.folder = folder
        self.exe = os.path.join(folder, exe_name)
        self.process = None
        self.hwnd = 0
        self.xid = None

    @property
    def config_path(self):
        return os.path.splitext(self.exe)[0] + ".cfg"

    def config_bytes(self):
        """The configuration file's content, None when there is none."""
        try:
            with open(self.config_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def start(self, max_file_size=None, args=()):
        """Starts the program with command-line `args`. With max_file_size,
        its writes past that many bytes of any file fail (no space, as it were)."""
        def limit_file_size():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # EFBIG instead of a kill
            hard = resource.getrlimit(resource.RLIMIT_FSIZE)[1]
            resource.setrlimit(resource.RLIMIT_FSIZE, (max_file_size, hard))
        # A window of the previous run may linger for a moment after its
        # process has ended; it must not be taken for this run's window.
        wait_until(lambda: not self.env.main_window_present(), 10,
                   "the previous main window to go")
        self.process = subprocess.Popen(
            ["wine", self.exe] + list(args), cwd=self.folder, env=self.env.wine_env,
            stdin=subprocess.DEVNULL, stdout=self.env.log, stderr=self.env.log,
            preexec_fn=None if max_file_size is None else limit_file_size, **self.env.as_user)
        self.env.apps.append(self)
        return self

    def find_window(self, title=TITLE):
        """The handle of the top-level window with `title`, 0 if none (tests run
        one program at a time)."""
        return int(self.env.probe.value("find " + title), 0)

    def find_main(self):
        """The main window's handle, whatever the link's state, 0 if none."""
        return self.find_window(TITLE) or self.find_window(LOST_TITLE)

    def caption(self):
        return self.env.probe.value("text %d" % self.hwnd)

    def wait_message_box(self, caption="Error", timeout=10):
        """Waits for a message box; returns (handle, its message text)."""
        box = wait_until(lambda: self.find_window(caption), timeout, "message box " + caption)
        lines, _ = self.env.probe.call("children %d" % box)
        texts = [line.split("\t", 2) for line in lines]
        message = [text for ident, cls, text in texts if ident == "65535" and cls == "Static"]
        return box, message[0] if message else None

    def answer_message_box(self, box, button=1):
        """Presses a message box button (IDOK by default)."""
        self.env.probe.call("click %d %d" % (box, button))
        wait_until(lambda: self.env.probe.value("exists %d" % box) == "0", 5,
                   "the message box to close")

    def wait_window(self, timeout=20):
        """Waits for the main window to be on the X display and known to Wine."""
        def mapped():
            if self.process.poll() is not None:
                raise AssertionError("program ended (exit %s) before its window showed"
                                     % self.process.returncode)
            found = self.env.main_window_xids()
            return found[0] if found else None
        self.xid = wait_until(mapped, timeout, "the main window")
        self.hwnd = wait_until(self.find_main, 5, "the main window's handle")
        return self

    def rect(self):
        return tuple(self.env.probe.numbers("rect %d" % self.hwnd))

    def client(self):
        """Client area: screen x, y, width, height."""
        return tuple(self.env.probe.numbers("client %d" % self.hwnd))

    def styles(self):
        return tuple(self.env.probe.numbers("styles %d" % self.hwnd))

    def send(self, msg, wparam=0, lparam=0):
        return int(self.env.probe.value("send %d %d %d %d" % (self.hwnd, msg, wparam, lparam)))

    def post(self, msg, wparam=0, lparam=0):
        self.env.probe.call("post %d %d %d %d" % (self.hwnd, msg, wparam, lparam))

    def capture(self):
        """The client area as the program drew it."""
        path = self.env.scratch("capture.ppm")
        self.env.probe.call("capture %d %s" % (self.hwnd, windows_path(path)))
        with open(path, "rb") as f:
            return Image.from_ppm(f.read())

    def screenshot(self):
        """The client area as the X display shows it."""
        x, y, width, height = self.client()
        data = subprocess.run(
            ["import", "-display", self.env.display, "-depth", "8", "-window", "root",
             "-crop", "%dx%d+%d+%d" % (width, height, x, y), "+repage", "ppm:-"],
            check=True, capture_output=True).stdout
        return Image.from_ppm(data)

    def expect_placement(self, scale):
        """Scale 1..4: at (50, 50), topmost, with the outer size of the scale;
        any other scale: where it was created, at (0, 0), not topmost."""
        left, top, right, bottom = self.rect()
        topmost = bool(self.styles()[1] & WS_EX_TOPMOST)
        if scale in lcd.OUTER_SIZES:
            width, height = lcd.OUTER_SIZES[scale]
            assert (left, top, right, bottom, topmost) == (50, 50, 50 + width, 50 + height, True), \
                ("scale %d" % scale, self.rect(), topmost)
        else:
            assert (left, top, topmost) == (0, 0, False), ("scale %d" % scale, self.rect(), topmost)

    def expect_stream(self, data, scale, blk_on_grn, timeout=10):
        """Waits until the client area shows the start-up screen followed by
        the stream `data`, as q72render draws it."""
        _, _, width, height = self.client()
        bitmap = self.env.render_stream(data, scale, blk_on_grn)
        self.wait_image(lcd.client_image(width, height, bitmap, blk_on_grn), timeout)

    def expect_lcd(self, pixels, scale, blk_on_grn, start_blk_on_grn=None):
        """Waits until the client area shows `pixels` (64 rows of 128 0/1 values)
        at `scale` in the scheme of `blk_on_grn`, over the class background of
        the scheme in force at start."""
        if start_blk_on_grn is None:
            start_blk_on_grn = blk_on_grn
        _, _, width, height = self.client()
        bitmap = lcd.render_map(pixels, scale, blk_on_grn)
        self.wait_image(lcd.client_image(width, height, bitmap, start_blk_on_grn))

    def wait_image(self, expected, timeout=5):
        """Waits until the client area equals `expected` (the first paint may lag)."""
        last = [None]

        def matches():
            last[0] = self.capture()
            return last[0] == expected
        try:
            wait_until(matches, timeout, "the expected client area", interval=0.05)
        except AssertionError:
            path = self.env.scratch("mismatch.ppm")
            last[0].save_ppm(path)
            raise AssertionError("client area differs: %s (saved %s)"
                                 % (last[0].difference(expected), path))

    def abort_reads(self):
        """From now on every read on the program's port ends as aborted, as
        some drivers answer once their device has gone (Env.stop_aborting ends it)."""
        self.env.probe.call("abortreads %d %s" % (self.hwnd, windows_path(self.env.abort_dll)))

    def open_setup(self):
        """Opens the setup dialog (command 6001, as the menu item would)."""
        self.post(WM_COMMAND, CMD_ABOUT)
        return Dialog(self, SETUP_TITLE)

    def alive(self):
        return self.process.poll() is None

    def close(self, timeout=10):
        """Sends WM_CLOSE and returns the exit code."""
        self.post(WM_CLOSE)
        return self.wait_exit(timeout)

    def wait_exit(self, timeout=10):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("program did not end within %.0f s" % timeout)

    def kill(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Env:
    """Everything one e2e run shares: display, prefix, server, probe, builds."""

    def __init__(self, native_build, win_build, keep=False):
        self.native_build = os.path.abspath(native_build)
        self.win_build = os.path.abspath(win_build)
        self.exe = os.path.join(self.win_build, EXE_NAME)
        self.probe_exe = os.path.join(self.win_build, "tests", "e2e", "helper", "q72probe.exe")
        self.abort_dll = os.path.join(self.win_build, "tests", "e2e", "helper", "q72abort.dll")
        self.q72render = os.path.join(self.native_build, "tools", "q72render")
        self.q72modem = os.path.join(self.native_build, "tools", "q72modem")
        for path in (self.exe, self.probe_exe, self.q72render):
            if not os.path.isfile(path):
                raise HarnessError("missing build output " + path)
        self.keep = keep
        self.as_user = {}  # Popen arguments that run Wine as another user
        self.root = tempfile.mkdtemp(prefix="q72e2e-")
        self.renderer = lcd.Renderer(self.q72render, self.root)
        self.log = open(os.path.join(self.root, "wine.log"), "ab")
        self.apps = []
        self.processes = []
        self.serial_pairs = []
        self.watches = []
        self.xvfb = None
        self.server_started = False
        self.probe = None
        self.folder_count = 0
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    def _start(self):
        self.xvfb = Xvfb(self.log)
        self.display = self.xvfb.display
        self.prefix = os.path.join(self.root, "prefix")
        env = dict(os.environ)
        # UTF-8 Unix names, whatever the caller's locale: Wine then reads
        # every command line and file name as the tests write them.
        env.update(WINEPREFIX=self.prefix, WINEARCH="win64", WINEDEBUG="-all",
                   WINEDLLOVERRIDES="mscoree,mshtml=", DISPLAY=self.display, LC_ALL="C.UTF-8")
        self.wine_env = env
        self._start_prefix()

    def _start_prefix(self):
        """Builds the prefix, starts its server and the probe."""
        self._run(["wineboot", "-i"], timeout=120)
        self._run(["wineserver", "-w"], timeout=60)
        subprocess.Popen(["wineserver", "-p"], env=self.wine_env, stdout=self.log,
                         stderr=self.log, **self.as_user).wait()
        self.server_started = True
        for key, name, kind, data in self._settings():
            self._run(["wine", "reg", "add", key, "/v", name, "/t", kind, "/d", data, "/f"],
                      timeout=60)
        self.probe = Probe(self.probe_exe, self.wine_env, self.log, **self.as_user)
        self.probe.call("windows")

    def _settings(self):
        """Registry values (key, name, type, data) set before any program starts."""
        # Unmanaged windows: without a window manager every hidden or
        # destroyed top-level window would otherwise stall its thread 2 s.
        return [("HKCU\\Software\\Wine\\X11 Driver", "Managed", "REG_SZ", "N")]

    def _run(self, argv, timeout):
        subprocess.run(argv, env=self.wine_env, stdout=self.log, stderr=self.log,
                       stdin=subprocess.DEVNULL, timeout=timeout, check=True, **self.as_user)

    def scratch(self, name):
        return os.path.join(self.root, name)

    def render_stream(self, data, scale, blk_on_grn):
        """q72render's picture of the start-up screen followed by the stream
        `data`, at scale 1..4 in the scheme of `blk_on_grn`."""
        stream = self.scratch("stream.bin")
        out = self.scratch("stream.png")
        with open(stream, "wb") as f:
            f.write(data)
        subprocess.run([self.q72render, "--startup", "--scale", str(scale), "--scheme",
                        "green" if blk_on_grn == 1 else "blue", stream, out],
                       check=True, capture_output=True)
        with open(out, "rb") as f:
            return Image.from_png(f.read())

    def xdotool(self, *args):
        result = subprocess.run(["xdotool"] + list(args), env=self.wine_env,
                                capture_output=True, text=True)
        return result.stdout.strip()

    def new_folder(self, name=None):
        self.folder_count += 1
        folder = os.path.join(self.root, "runs", "%03d" % self.folder_count, name or "q72")
        os.makedirs(folder)
        return folder

    def app(self, config=None, folder=None, exe_name=EXE_NAME):
        """A copy of the program in a fresh folder, with `config` (bytes) as its
        configuration file if given; not started."""
        folder = folder or self.new_folder()
        app = App(self, folder, exe_name)
        shutil.copyfile(self.exe, app.exe)
        if config is not None:
            with open(app.config_path, "wb") as f:
                f.write(config)
        return app

    def launch(self, config=None, args=(), **kwargs):
        """Starts a copy of the program with command-line `args` and waits for its window."""
        return self.app(config, **kwargs).start(args=args).wait_window()

    def main_window_xids(self):
        """X windows, mapped, titled like the main window."""
        pattern = "^(%s|%s)$" % (re.escape(TITLE), re.escape(LOST_TITLE))
        return self.xdotool("search", "--onlyvisible", "--name", pattern).split()

    def main_window_present(self):
        return bool(self.main_window_xids()) or any(
            int(self.probe.value("find " + title), 0) != 0 for title in (TITLE, LOST_TITLE))

    def wineserver_pid(self):
        """The prefix's wineserver, which works in the programs' stead for every
        request they make (its folder is named after the prefix's device and inode)."""
        info = os.stat(self.prefix)
        folder = "server-%x-%x" % (info.st_dev, info.st_ino)
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/comm" % pid) as f:
                    is_server = f.read().startswith("wineserver")
                if is_server and os.path.basename(os.readlink("/proc/%s/cwd" % pid)) == folder:
                    return int(pid)
            except OSError:
                continue
        raise HarnessError("no wineserver for " + self.prefix)

    def top_level_windows(self):
        lines, _ = self.probe.call("windows")
        return [tuple(line.split("\t", 2)) for line in lines]

    def spawn(self, argv):
        """Starts another program in the prefix; it is killed at the end of the test."""
        process = subprocess.Popen(argv, env=self.wine_env, stdin=subprocess.DEVNULL,
                                   stdout=self.log, stderr=self.log, **self.as_user)
        self.processes.append(process)
        return process

    def free_port_number(self, numbers):
        """The first of `numbers` that no COM port of the prefix uses yet."""
        dosdevices = os.path.join(self.prefix, "dosdevices")
        return next(n for n in numbers
                    if not os.path.lexists(os.path.join(dosdevices, "com%d" % n)))

    def name_port(self, number, name):
        """Gives COM`number` a device with the friendly name `name`, as a
        driver's installation does; it stays for the rest of the run.
        Returns the device's instance ID."""
        return self.probe.value("nameport %d %s" % (number, name))

    def move_port(self, device, number):
        """Gives the device (an instance ID from name_port) the number COM`number`."""
        self.probe.call("moveport %s %d" % (device, number))

    def stop_aborting(self):
        """Ends App.abort_reads."""
        self.probe.call("abortstop")

    def clipboard(self):
        """(picture, text) on the clipboard: an Image and the text's bytes."""
        path = self.scratch("clipboard.ppm")
        _, _, hex_text = self.probe.value("clipboard " + windows_path(path)).split()
        with open(path, "rb") as f:
            picture = Image.from_ppm(f.read())
        return picture, b"" if hex_text == "-" else bytes.fromhex(hex_text)

    def serial(self, number):
        """A null-modem pair with the program's end as COM`number`, listed as
        present while its device is there; removed at the end of the test."""
        pair = SerialPair(self, number)
        self.serial_pairs.append(pair)
        return pair

    def modem(self, pair, streams=(), options=()):
        """Starts q72modem on the modem's end of `pair`, playing `streams`
        (files) with `options`; its key log goes to the run's log. Killed at
        the end of the test."""
        if not os.path.isfile(self.q72modem):
            raise HarnessError("missing build output " + self.q72modem)
        process = subprocess.Popen([self.q72modem] + list(options) + [pair.peer] + list(streams),
                                   stdin=subprocess.DEVNULL, stdout=self.log, stderr=self.log)
        self.processes.append(process)
        return process

    def end_test(self):
        """Ends whatever a test left running."""
        for app in self.apps:
            app.kill()
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()
        for pair in self.serial_pairs:
            pair.close()
        for watch in self.watches:
            watch.close()
        self.apps = []
        self.processes = []
        self.serial_pairs = []
        self.watches = []

    @contextlib.contextmanager
    def scaled(self, dpi):
        """An Env of a prefix of its own whose system DPI is `dpi`, as a
        user's display scaling sets it (96 is 100 %)."""
        other = ScaledEnv(self, dpi)
        try:
            yield other
        finally:
            other.close()

    @contextlib.contextmanager
    def unprivileged(self, user="nobody"):
        """An Env whose programs run without root's rights, so that file
        permissions hold under Wine as on Windows (as root every write is
        allowed): this one when not run as root, else a UserEnv for `user`."""
        if os.geteuid() != 0:
            yield self
            return
        other = UserEnv(self, user)
        try:
            yield other
        finally:
            other.close()

    def _stop_prefix(self):
        """Ends what runs in the prefix: the tests' programs, the probe, the
        server, and removes the server's socket folder, which it leaves behind."""
        self.end_test()
        if self.probe:
            self.probe.stop()
        if not self.server_started:
            return
        try:
            server_folder = os.readlink("/proc/%d/cwd" % self.wineserver_pid())
        except (OSError, HarnessError):
            server_folder = None
        subprocess.run(["wineserver", "-k"], env=self.wine_env, stdout=self.log,
                       stderr=self.log, **self.as_user)
        if server_folder:
            shutil.rmtree(server_folder, ignore_errors=True)
            try:
                os.rmdir(os.path.dirname(server_folder))  # only once no other server uses it
            except OSError:
                pass

    def close(self):
        self._stop_prefix()
        if self.xvfb:
            self.xvfb.stop()
        self.log.close()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)


class SideEnv(Env):
    """A second prefix with its own server and probe, on the display of
    `parent`, with the parent's builds; Env.close() ends it."""

    def __init__(self, parent, label, as_user=None):
        self.native_build, self.win_build = parent.native_build, parent.win_build
        self.exe, self.probe_exe, self.abort_dll = parent.exe, parent.probe_exe, parent.abort_dll
        self.q72render, self.q72modem = parent.q72render, parent.q72modem
        self.keep = parent.keep
        self.as_user = as_user or {}
        self.root = tempfile.mkdtemp(prefix="q72e2e-%s-" % label)
        self.renderer = parent.renderer
        self.log = parent.log
        self.apps, self.processes, self.serial_pairs, self.watches = [], [], [], []
        self.xvfb = None  # the parent's
        self.server_started = False
        self.probe = None
        self.folder_count = 0
        self.display = parent.display
        self.prefix = os.path.join(self.root, "prefix")
        self.wine_env = dict(parent.wine_env, WINEPREFIX=self.prefix)

    def _begin(self):
        try:
            self._start_prefix()
        except BaseException:
            self.close()
            raise

    def close(self):
        self._stop_prefix()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)


class ScaledEnv(SideEnv):
    """A second prefix whose system DPI is `dpi`: the LogPixels value that a
    user's display settings write."""

    def __init__(self, parent, dpi):
        super().__init__(parent, "dpi%d" % dpi)
        self.dpi = dpi
        self._begin()

    def _settings(self):
        return super()._settings() + [
            ("HKCU\\Control Panel\\Desktop", "LogPixels", "REG_DWORD", str(self.dpi))]


class UserEnv(SideEnv):
    """A second prefix with its own server and probe, on the display of
    `parent`, whose Wine processes all run as `user` (its primary group, no
    other groups). Its folder, prefix and the copies of the programs belong to
    that user; the tools that run natively still run as root."""

    def __init__(self, parent, user):
        account = pwd.getpwnam(user)
        self.uid, self.gid = account.pw_uid, account.pw_gid
        super().__init__(parent, user, dict(user=self.uid, group=self.gid, extra_groups=[]))
        os.chown(self.root, self.uid, self.gid)
        # The build folders need not be readable by the user: copies are.
        programs = os.path.join(self.root, "programs")
        os.mkdir(programs)
        self.exe = os.path.join(programs, EXE_NAME)
        self.probe_exe = os.path.join(programs, os.path.basename(parent.probe_exe))
        for source, copy in ((parent.exe, self.exe), (parent.probe_exe, self.probe_exe)):
            shutil.copyfile(source, copy)
        self.wine_env.update(HOME=self.root, USER=user, LOGNAME=user)
        self._begin()

    def _give(self, path):
        os.chown(path, self.uid, self.gid)

    def new_folder(self, name=None):
        """A folder of the user's, as are the folders above it up to the root."""
        folder = super().new_folder(name)
        path = folder
        while path != self.root:
            self._give(path)
            path = os.path.dirname(path)
        return folder

    def app(self, config=None, folder=None, exe_name=EXE_NAME):
        app = super().app(config, folder, exe_name)
        self._give(app.exe)
        if config is not None:
            self._give(app.config_path)
        return app
