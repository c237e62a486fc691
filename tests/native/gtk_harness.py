"""Harness for the native program under Xvfb, with no Wine.

Reuses the Windows end-to-end harness (tests/e2e) wherever the two agree: its
Xvfb, its socat cable, its App methods that wait for pictures, and q72render's
pictures. One Env per run owns a private Xvfb; each test launches
build/q72display with a settings folder of its own (XDG_CONFIG_HOME). The
dialogs are worked with their Alt+letter keys, as a keyboard user would, and
their texts are read through AT-SPI on an accessibility bus of the run's own
(Env.a11y_bus), as a screen reader reads the LCD (AtSpi).
"""

import json
import os
import pty
import pwd
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "e2e"))

import harness  # noqa: E402
import lcd  # noqa: E402
from harness import HarnessError, wait_until  # noqa: E402
from keys import XKeyboard  # noqa: E402

TITLE = harness.TITLE
LOST_TITLE = TITLE + " - link lost"
SETUP_TITLE = harness.SETUP_TITLE
PORT_TITLE = harness.PORT_TITLE
# Debian's own Python: pyatspi and gi exist only for it.
SYSTEM_PYTHON = "/usr/bin/python3"
A11Y_BUS_CONFIG = "/usr/share/defaults/at-spi2/accessibility.conf"
REGISTRYD = "/usr/libexec/at-spi2-registryd"
# The setup dialog's keys.
SIZE_LIST, SET_PORT, LINK, DONE, CANCEL = "alt+z", "alt+s", "alt+i", "alt+d", "alt+c"
# pyatspi and gi load only in Debian's own Python.
SYSTEM_PYTHON = "/usr/bin/python3"


def scheme_name(blk_on_grn):
    return "green" if blk_on_grn == 1 else "blue"


class PtyPair(harness.SerialPair):
    """A socat null-modem cable: the program opens `device` by its path, the
    modem sits at `peer`. Pulled and replugged as the Windows tests do."""

    def __init__(self, env, number):
        self.env = env
        self.number = number
        self.device = env.scratch("pty%d-program" % number)
        self.peer = env.scratch("pty%d-modem" % number)
        self._connect()

    def pull(self):
        """Kills socat: the ptys go, their names dangle."""
        self.process.kill()
        self.process.wait()

    def replug(self):
        """A new pair of ptys under the same names."""
        self._connect()

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGCONT)  # a stopped socat ends only once resumed
            self.process.terminate()
            self.process.wait()


class App(harness.App):
    """One run of the native program, with its own settings folder, with more
    `environment` variables if given, readable through AT-SPI if `a11y`, and
    run as the user `user` (with no other groups) if given."""

    def __init__(self, env, args, config_home, environment=None, a11y=False, user=None):
        super().__init__(env, config_home, env.program)
        self.args = list(args)
        self.config_home = config_home
        self.stderr_path = os.path.join(config_home, "stderr.txt")
        self.environment = dict(environment or {})
        self.a11y = a11y
        self.user = user

    @property
    def settings_path(self):
        return os.path.join(self.config_home, "q72display", "settings.ini")

    def settings(self):
        try:
            with open(self.settings_path) as f:
                return f.read()
        except FileNotFoundError:
            return None

    def start(self):
        environment = dict(self.env.x_env, XDG_CONFIG_HOME=self.config_home, **self.environment)
        if self.a11y:
            environment["AT_SPI_BUS_ADDRESS"] = self.env.a11y_bus()
        as_user = {}
        if self.user:
            account = pwd.getpwnam(self.user)
            as_user = dict(user=account.pw_uid, group=account.pw_gid, extra_groups=[])
            self.exe = self.env.program_for(self.user)
            os.chown(self.config_home, account.pw_uid, account.pw_gid)
        with open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen([self.exe] + self.args, env=environment,
                                            stdin=subprocess.DEVNULL, stdout=self.env.log,
                                            stderr=err, **as_user)
        self.env.apps.append(self)
        return self

    def stderr(self):
        with open(self.stderr_path) as f:
            return f.read()

    def windows(self, title_pattern=None):
        """X windows of this process, shown, whose title matches (any title:
        menus too)."""
        pattern = ["--name", title_pattern] if title_pattern else []
        return self.env.xdotool("search", "--all", "--onlyvisible", "--pid",
                                str(self.process.pid), *pattern).split()

    def wait_window(self, timeout=10):
        def shown():
            if self.process.poll() is not None:
                raise AssertionError("program ended (exit %s) before its window showed: %s"
                                     % (self.process.returncode, self.stderr()))
            found = self.windows("^%s( - link lost)?$" % re.escape(TITLE))
            return found[0] if found else None
        self.xid = wait_until(shown, timeout, "the main window")
        return self

    def title(self):
        return self.env.xdotool("getwindowname", self.xid)

    def labels(self, title):
        """The texts of the labels in this program's window `title`, read
        through AT-SPI (the program started with a11y)."""
        result = subprocess.run(
            [SYSTEM_PYTHON, os.path.join(HERE, "atspi_labels.py"), str(self.process.pid), title],
            env=dict(self.env.x_env, AT_SPI_BUS_ADDRESS=self.env.a11y_bus()),
            capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise HarnessError("atspi_labels.py: " + result.stderr.strip())
        return result.stdout.splitlines()

    def texts(self, title):
        """The text of each read-only text view in this program's window `title`, read
        through AT-SPI (the program started with a11y)."""
        result = subprocess.run(
            [SYSTEM_PYTHON, os.path.join(HERE, "atspi_labels.py"), str(self.process.pid), title,
             "text"], env=dict(self.env.x_env, AT_SPI_BUS_ADDRESS=self.env.a11y_bus()),
            capture_output=True, text=True, timeout=30)
        if result.returncode != 0:
            raise HarnessError("atspi_labels.py: " + result.stderr.strip())
        return json.loads(result.stdout or "[]")

    def wait_label(self, title, text, timeout=5):
        wait_until(lambda: text in self.labels(title), timeout,
                   "%r in %s (it has %s)" % (text, title, self.labels(title)))

    def wait_title(self, title, timeout):
        wait_until(lambda: self.title() == title, timeout, "the caption %r" % title)

    def client(self):
        """Screen x, y, width, height: the window is its client area."""
        fields = dict(line.split("=") for line in
                      self.env.xdotool("getwindowgeometry", "--shell", self.xid).split())
        return tuple(int(fields[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))

    def capture(self):
        return self.screenshot()

    def keep_above(self):
        state = subprocess.run(["xprop", "-display", self.env.display, "-id", self.xid,
                                "_NET_WM_STATE"], capture_output=True, text=True).stdout
        return "_NET_WM_STATE_ABOVE" in state

    def focus(self):
        self.env.xdotool("windowfocus", "--sync", self.xid)

    def click(self, button, *modifiers):
        """Clicks the middle of the window, with modifier keys held."""
        x, y, width, height = self.client()
        self.env.xdotool("mousemove", str(x + width // 2), str(y + height // 2))
        for key in modifiers:
            self.env.xdotool("keydown", key)
        self.env.xdotool("click", str(button))
        for key in modifiers:
            self.env.xdotool("keyup", key)

    def open_menu(self, button, *modifiers):
        """Opens the window menu; returns once it is up."""
        self.click(button, *modifiers)
        wait_until(lambda: len(self.windows()) > 1, 5, "the window menu")

    def open_setup(self):
        """A right click; returns the setup dialog once it has the focus."""
        self.click(3)
        return Dialog(self, SETUP_TITLE)

    def close(self, timeout=10):
        """Ends the program as its close box would (SIGTERM is handled the
        same way); returns the exit code."""
        self.process.terminate()
        return self.wait_exit(timeout)


class Dialog:
    """A dialog of the program, worked with its keys. A button clicks a
    quarter of a second after its key (GTK shows it pressed meanwhile), so
    wait for what one key does before pressing a key that ends the dialog."""

    def __init__(self, app, title, timeout=10):
        self.app = app
        self.title = title
        pattern = "^%s$" % re.escape(title)
        self.xid = wait_until(lambda: (app.windows(pattern) or [None])[0], timeout,
                              "dialog " + title)
        app.env.xdotool("windowfocus", "--sync", self.xid)

    def press(self, *keys):
        self.app.env.xdotool("key", *keys)

    def is_open(self):
        return self.xid in self.app.windows("^%s$" % re.escape(self.title))

    def wait_closed(self, timeout=10):
        wait_until(lambda: not self.is_open(), timeout, self.title + " to close")


def read_line(process, name, timeout=30):
    """A line of the process's output; a process that ends or stays silent
    fails the harness rather than hanging it."""
    if not select.select([process.stdout], [], [], timeout)[0]:
        raise HarnessError("%s said nothing for %d s" % (name, timeout))
    line = process.stdout.readline()
    if not line:
        raise HarnessError("%s ended (see the run's log)" % name)
    return line


class AtSpi:
    """A screen reader's view of the program: atspi_probe.py listening on the
    run's accessibility bus (Env.a11y_bus). Programs launched with a11y=True
    are on it. The probe ends with the test."""

    def __init__(self, env):
        found = subprocess.run([SYSTEM_PYTHON, "-c", "import importlib.util, sys; "
                                "sys.exit(importlib.util.find_spec('pyatspi') is None)"])
        if found.returncode != 0:
            raise unittest.SkipTest("pyatspi is not installed for %s (Debian package "
                                    "python3-pyatspi)" % SYSTEM_PYTHON)
        environ = dict(env.x_env, AT_SPI_BUS_ADDRESS=env.a11y_bus())
        environ.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.probe = subprocess.Popen([SYSTEM_PYTHON, os.path.join(HERE, "atspi_probe.py")],
                                      env=environ, stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, stderr=env.log)
        env.processes.append(self.probe)
        self._reply()

    def _reply(self):
        reply = json.loads(read_line(self.probe, "atspi_probe.py"))
        if "error" in reply:
            raise HarnessError("atspi_probe.py: " + reply["error"])
        return reply

    def call(self, cmd, **args):
        self.probe.stdin.write((json.dumps(dict(args, cmd=cmd)) + "\n").encode())
        self.probe.stdin.flush()
        return self._reply()

    def find(self, app, timeout=10):
        """The program's LCD: {"name", "role"}."""
        return self.call("find", pid=app.process.pid, timeout=timeout)

    def read(self):
        """The LCD's text as a screen reader reads it (see atspi_probe.py)."""
        return self.call("read")

    def events(self):
        """The events heard since the last call, in order."""
        return self.call("events")["events"]


class Orca:
    """Orca, the screen reader, on the run's accessibility bus, with a HOME
    and settings of its own. What it would have said (speech-dispatcher does
    not run here) is each SPEECH OUTPUT entry of its debug log. The log goes
    to a pty, so that Python writes it line by line as it happens rather than
    in blocks lost when Orca is killed; a thread gathers the entries. Ended
    with the test."""

    ENTRY = re.compile(r"SPEECH OUTPUT: '(.*?)' ?(?:\{|\[\{)", re.S)

    def __init__(self, env):
        if not shutil.which("orca"):
            raise unittest.SkipTest("Orca is not installed (Debian package orca): the screen "
                                    "reader cannot be put in the loop")
        folder = env.new_folder("orca")
        home, runtime = os.path.join(folder, "home"), os.path.join(folder, "runtime")
        for path in (home, runtime):
            os.makedirs(path, mode=0o700)
        environment = dict(env.x_env, HOME=home, XDG_RUNTIME_DIR=runtime,
                           AT_SPI_BUS_ADDRESS=env.a11y_bus())
        environment.pop("DBUS_SESSION_BUS_ADDRESS", None)
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.said = []  # (time.monotonic(), text), in order
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            ["orca", "--replace", "-u", os.path.join(folder, "settings"),
             "--debug-file", os.ttyname(slave)],
            env=environment, stdin=subprocess.DEVNULL, stdout=env.log, stderr=env.log)
        env.processes.append(self.process)
        self.log = open(os.path.join(folder, "debug.log"), "wb")
        threading.Thread(target=self._gather, args=(slave,), daemon=True).start()
        self.wait(lambda said: "Screen reader on." in said, 30, "Orca to start")

    def _gather(self, slave):
        pending = ""
        try:
            while self.process.poll() is None or select.select([self.master], [], [], 0.5)[0]:
                if not select.select([self.master], [], [], 0.5)[0]:
                    continue
                chunk = os.read(self.master, 65536)
                self.log.write(chunk)
                pending += chunk.decode("utf-8", "replace")
                while True:
                    found = self.ENTRY.search(pending)
                    if not found:
                        break
                    text = re.sub(r"\n {18}", "\n", found.group(1))
                    with self.lock:
                        self.said.append((time.monotonic(), text))
                    pending = pending[found.end():]
                if "SPEECH OUTPUT" not in pending:
                    pending = pending[-64:]
        except OSError:
            pass
        finally:
            os.close(slave)
            os.close(self.master)
            self.log.close()

    def since(self, start=0.0):
        """What Orca said from time.monotonic() `start` on, in order."""
        with self.lock:
            return [text for at, text in self.said if at >= start]

    def wait(self, done, timeout, what, start=0.0):
        """Waits until done(texts said since `start`) holds; returns those texts."""
        return wait_until(lambda: done(self.since(start)) and self.since(start), timeout, what)


class Env(harness.Env):
    """A private Xvfb and the native builds; no Wine prefix."""

    def __init__(self, native_build, keep=False):
        self.native_build = os.path.abspath(native_build)
        self.program = os.path.join(self.native_build, "q72display")
        self.q72render = os.path.join(self.native_build, "tools", "q72render")
        self.q72modem = os.path.join(self.native_build, "tools", "q72modem")
        for path in (self.program, self.q72render, self.q72modem):
            if not os.path.isfile(path):
                raise HarnessError("missing build output " + path)
        self.keep = keep
        self.root = tempfile.mkdtemp(prefix="q72native-")
        self.renderer = lcd.Renderer(self.q72render, self.root)
        self.log = open(os.path.join(self.root, "native.log"), "ab")
        self.apps, self.processes, self.serial_pairs, self.watches = [], [], [], []
        self.folder_count = 0
        self.xvfb = self.keyboard = None
        self.services = []  # the accessibility bus and registry, for the whole run
        self.a11y_address = None
        self.user_programs = {}
        try:
            self.xvfb = harness.Xvfb(self.log)
            self.display = self.xvfb.display
            self.x_env = dict(os.environ, DISPLAY=self.display)
            self.x_env.pop("GDK_SCALE", None)
            self.wine_env = self.x_env  # what the shared xdotool() runs with
            # Once the server takes connections, one is held for the run: with
            # no client left it would reset between tests.
            self.keyboard = wait_until(self._connect, 10, "the X server")
        except BaseException:
            self.close()
            raise

    def _connect(self):
        try:
            return XKeyboard(self.display)
        except HarnessError:
            return None

    def close(self):
        self.end_test()
        for process in self.services:
            process.terminate()
            process.wait()
        if self.keyboard:
            self.keyboard.close()
        if self.xvfb:
            self.xvfb.stop()
        self.log.close()
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    def a11y_bus(self):
        """The address of the run's accessibility bus, with its registry;
        started on first use."""
        if self.a11y_address:
            return self.a11y_address
        socket = self.scratch("a11y-bus")
        address = "unix:path=" + socket
        bus_env = dict(self.x_env, AT_SPI_BUS_ADDRESS=address)
        bus_env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        def start(argv):
            self.services.append(subprocess.Popen(argv, env=bus_env, stdin=subprocess.DEVNULL,
                                                  stdout=self.log, stderr=self.log))
        start(["dbus-daemon", "--nofork", "--address=" + address,
               "--config-file=" + A11Y_BUS_CONFIG])
        wait_until(lambda: os.path.exists(socket), 10, "the accessibility bus")
        start([REGISTRYD])
        self.a11y_address = address
        return address

    def program_for(self, user):
        """A copy of the program that `user` may run (the build folder need
        not be open to it)."""
        if user not in self.user_programs:
            os.chmod(self.root, 0o711)  # its folders may be passed through, not listed
            folder = self.new_folder(user)
            copy = os.path.join(folder, "q72display")
            shutil.copy(self.program, copy)
            self.user_programs[user] = copy
        return self.user_programs[user]

    def clipboard_manager(self):
        """Starts a clipboard manager (clipboard_manager.py) for the test."""
        process = subprocess.Popen([SYSTEM_PYTHON, os.path.join(HERE, "clipboard_manager.py")],
                                   env=self.x_env, stdin=subprocess.DEVNULL,
                                   stdout=subprocess.PIPE, stderr=self.log)
        self.processes.append(process)
        if process.stdout.readline().strip() != b"ready":
            raise HarnessError("the clipboard manager did not start")
        return process

    def serial(self, number):
        pair = PtyPair(self, number)
        self.serial_pairs.append(pair)
        return pair

    def app(self, *args, settings=None, **options):
        """The program with these arguments and a settings file holding
        `settings` (text) if given; not started. `options` as for App."""
        app = App(self, args, self.new_folder("config"), **options)
        if settings is not None:
            os.makedirs(os.path.dirname(app.settings_path))
            with open(app.settings_path, "w") as f:
                f.write(settings)
        return app

    def launch(self, *args, settings=None, **options):
        return self.app(*args, settings=settings, **options).start().wait_window()

    def run(self, *args):
        """Runs the program to its end; (exit status, standard error)."""
        result = subprocess.run([self.program] + list(args), env=self.x_env, timeout=20,
                                stdin=subprocess.DEVNULL, capture_output=True, text=True)
        return result.returncode, result.stderr
