"""Harness for the browser panel: the program run with --headless and
--serve (no display), headless Chromium driven through Selenium, and raw
WebSocket clients. Debian's python3-selenium, -websockets and -pil load only
in /usr/bin/python3, which run.py hands over to."""

import asyncio
import base64
import io
import os
import re
import resource
import select
import socket
import subprocess
import threading
import time

import websockets
from PIL import Image as PilImage
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

import gtk_harness
from harness import wait_until
from images import Image

URL = re.compile(r"the panel is at (https?)://([^/]+)/\?token=(\S+)")


def headless_env(config_home):
    environment = dict(os.environ, XDG_CONFIG_HOME=config_home)
    environment.pop("DISPLAY", None)
    return environment


class Server(gtk_harness.App):
    """q72display --headless --serve ADDR:PORT, without DISPLAY; its settings
    folder (and so its token) may be shared with an earlier run. With
    `descriptors`, it may open that many files (soft and hard limit)."""

    descriptors = None

    def _limit(self):
        if self.descriptors:
            resource.setrlimit(resource.RLIMIT_NOFILE, (self.descriptors, self.descriptors))

    def start(self):
        self.stdout_path = os.path.join(self.config_home, "stdout.txt")
        with open(self.stdout_path, "wb") as out, open(self.stderr_path, "wb") as err:
            self.process = subprocess.Popen([self.exe] + self.args,
                                            env=headless_env(self.config_home),
                                            stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                            preexec_fn=self._limit)
        self.env.apps.append(self)
        found = wait_until(self._address, 10, "the panel's address on standard output")
        self.scheme, self.host, self.token = found.groups()
        self.port = int(self.host.rsplit(":", 1)[1])
        self.url = "%s://%s/?token=%s" % (self.scheme, self.host, self.token)
        self.ws_url = "%s://%s/ws?token=%s" % (self.scheme.replace("http", "ws"), self.host,
                                               self.token)
        self.origin = "%s://%s" % (self.scheme, self.host)
        return self

    def _address(self):
        if self.process.poll() is not None:
            raise AssertionError("the server ended (exit %s): %s"
                                 % (self.process.returncode, self.stderr()))
        with open(self.stdout_path) as f:
            return URL.search(f.read())

    def refusals(self):
        return [line for line in self.stderr().splitlines() if " refused " in line]

    def memory(self):
        """The server's resident memory, in bytes."""
        with open("/proc/%d/status" % self.process.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+) kB", f.read()).group(1)) * 1024


def serve(env, pair, *args, config_home=None, address="127.0.0.1:0", descriptors=None):
    """The program with its link on `pair` and the panel on `address`."""
    config_home = config_home or env.new_folder("config")
    server = Server(env, ["--headless", "--port", pair.device, "--serve", address] + list(args),
                    config_home)
    server.descriptors = descriptors
    return server.start()


def refused_at_start(env, pair, *args):
    """Runs the program as serve() would, with `args`, to an end that should
    come at once; (exit status, standard error)."""
    result = subprocess.run([env.program, "--headless", "--port", pair.device] + list(args),
                            env=headless_env(env.new_folder("config")), timeout=10,
                            stdin=subprocess.DEVNULL, capture_output=True, text=True)
    return result.returncode, result.stderr


def send_body(server, head, size, chunked=False):
    """Sends the request line `head` with a body of `size` bytes (with
    Content-Length, or chunked), a megabyte at a time, until the server
    answers or stops taking them; (status, body bytes sent)."""
    sock = socket.create_connection(("127.0.0.1", server.port), timeout=30)
    length = "Transfer-Encoding: chunked" if chunked else "Content-Length: %d" % size
    sock.sendall(("%s\r\nHost: %s\r\n%s\r\n\r\n" % (head, server.host, length)).encode())
    mega = 1 << 20
    piece = b"%x\r\n%s\r\n" % (mega, b"x" * mega) if chunked else b"x" * mega
    sent = 0
    try:
        while sent < size and not select.select([sock], [], [], 0)[0]:
            sock.sendall(piece)
            sent += mega
        if chunked and sent >= size:
            sock.sendall(b"0\r\n\r\n")
    except OSError:
        pass  # the server has closed: its answer may be there to read
    try:
        reply = sock.recv(256)
    except OSError:
        reply = b""
    sock.close()
    return (int(reply.split()[1]) if reply else None), sent


class Browser:
    """One headless Chromium. It sits in env.apps, so that the test's end
    quits it as it kills the programs."""

    def __init__(self, env, width=800, height=900):
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--window-size=%d,%d" % (width, height),
                         "--force-device-scale-factor=1"):
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        log = os.path.join(env.root, "chromedriver.log")
        self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver", log_path=log),
                                       options=options)
        env.apps.append(self)

    def open(self, url):
        self.driver.get(url)
        return self

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def text(self, element_id):
        return self.js("return document.getElementById(arguments[0]).textContent", element_id)

    def wait_text(self, element_id, pattern, timeout=10):
        """Waits until the element's text contains `pattern` (a regular expression)."""
        return wait_until(lambda: re.search(pattern, self.text(element_id)), timeout,
                          "%r in #%s (it reads %r)" % (pattern, element_id,
                                                        self.text(element_id)))

    def wait_control(self, control, timeout=10):
        texts = {"you": "You have control", "other": "another page has control",
                 "free": "nobody has control"}
        self.wait_text("control", texts[control], timeout)

    def announced(self):
        """How many announcements the page has made."""
        return self.js("return q72panel.announced")

    def said(self, since=0):
        """What the live region was given to announce since the count was
        `since`, one entry each (it keeps the last 50)."""
        return self.js("const all = [...document.getElementById('said').children];"
                       "return all.slice(Math.max(0, all.length - q72panel.announced + arguments[0]))"
                       ".map(e => e.textContent)", since)

    def history(self):
        """The page's history list: [time, text] of each line, oldest first."""
        return self.js("return [...document.getElementById('history').children]"
                       ".map(e => [e.dataset.time, e.textContent])")

    def canvas(self):
        """The canvas's pixels, read back as PNG."""
        data = self.js("return document.getElementById('lcd').toDataURL('image/png')")
        image = PilImage.open(io.BytesIO(base64.b64decode(data.split(",", 1)[1]))).convert("RGB")
        return Image(image.width, image.height, image.tobytes())

    def wait_canvas(self, expected, timeout=10):
        last = [None]

        def shown():
            last[0] = self.canvas()
            return last[0] == expected
        try:
            wait_until(shown, timeout, "the canvas", interval=0.1)
        except AssertionError:
            raise AssertionError("canvas differs: %s" % last[0].difference(expected))

    def click_key(self, label):
        """Clicks a key of the on-screen key bar."""
        self.driver.find_element(
            By.XPATH, "//div[@id='bar']/button[text()='%s' or @aria-label='%s']"
            % (label, label)).click()

    def keys(self):
        return KeyPlayer(self.driver)

    def kill(self):
        if self.driver:
            self.driver.quit()
            self.driver = None


# X keysym names, as the Windows test's key list gives them to xdotool, and
# the WebDriver keys that type the same keys on a US keyboard.
WEBDRIVER_KEYS = {
    "Shift_L": Keys.SHIFT, "Shift_R": "\ue050", "Control_L": Keys.CONTROL,
    "Control_R": "\ue051", "Alt_L": Keys.ALT, "Super_L": Keys.META, "Super_R": "\ue053",
    "Escape": Keys.ESCAPE, "space": " ", "Return": Keys.RETURN, "Tab": Keys.TAB,
    "BackSpace": Keys.BACKSPACE, "Prior": Keys.PAGE_UP, "Next": Keys.PAGE_DOWN,
    "Left": Keys.ARROW_LEFT, "Up": Keys.ARROW_UP, "Right": Keys.ARROW_RIGHT,
    "Down": Keys.ARROW_DOWN, "Home": Keys.HOME, "End": Keys.END, "Insert": Keys.INSERT,
    "Delete": Keys.DELETE, "semicolon": ";", "equal": "=", "comma": ",", "minus": "-",
    "period": ".", "slash": "/", "grave": "`", "bracketleft": "[", "backslash": "\\",
    "bracketright": "]", "apostrophe": "'",
}
WEBDRIVER_KEYS.update(("F%d" % n, getattr(Keys, "F%d" % n)) for n in range(1, 13))


def webdriver_key(name):
    """The WebDriver key for an X keysym name; None for one WebDriver cannot
    type (Caps Lock, Num Lock, the keypad with Num Lock off)."""
    if len(name) == 1 and name.isalnum():
        return name
    return WEBDRIVER_KEYS.get(name)


# The panel takes at most 50 keys a second, presses and releases: a key
# typed is both.
KEY_PAUSE = 0.05


class KeyPlayer:
    """Plays xdotool's "key", "keydown" and "keyup" commands in the focused
    page, as key actions, a little slower than the panel's limit."""

    def __init__(self, driver):
        self.driver = driver

    def can_play(self, args):
        return all(word in ("key", "keydown", "keyup") or webdriver_key(word) for word in args)

    def xdotool(self, *args):
        actions = ActionChains(self.driver)
        command = None
        for word in args:
            if word in ("key", "keydown", "keyup"):
                command = word
                continue
            key = webdriver_key(word)
            if command in ("key", "keydown"):
                actions.key_down(key).pause(KEY_PAUSE)
            if command in ("key", "keyup"):
                actions.key_up(key)
        actions.perform()


def handshake(server, origin, token=None, host=None, keep=False):
    """A WebSocket handshake from a raw socket, with this Origin (None: none),
    token (None: the server's, "": an empty one) and Host; returns the status
    code, and with `keep` the socket too, which reads nothing more: a client
    that has stopped reading."""
    sock = socket.create_connection(("127.0.0.1", server.port), timeout=10)
    if keep:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    lines = ["GET /ws?token=%s HTTP/1.1" % (server.token if token is None else token),
             "Host: " + (host or server.host), "Upgrade: websocket", "Connection: Upgrade",
             "Sec-WebSocket-Key: " + base64.b64encode(os.urandom(16)).decode(),
             "Sec-WebSocket-Version: 13"]
    if origin:
        lines.append("Origin: " + origin)
    sock.sendall(("\r\n".join(lines) + "\r\n\r\n").encode())
    reply = b""
    while b"\r\n" not in reply:
        chunk = sock.recv(256)
        if not chunk:
            break
        reply += chunk
    status = int(reply.split()[1])
    if keep:
        return status, sock
    sock.close()
    return status


def close_code(server, *messages):
    """Connects as the page would, sends `messages` (str or bytes) in turn and
    returns the code the server closed the connection with."""
    async def run():
        async with websockets.connect(server.ws_url, origin=server.origin,
                                      compression=None, max_size=None) as ws:
            for message in messages:
                await ws.send(message)
            try:
                while True:
                    await asyncio.wait_for(ws.recv(), 10)
            except websockets.ConnectionClosed as closed:
                return closed.rcvd.code if closed.rcvd else None
    return asyncio.run(run())


def frame(opcode, payload):
    """A masked WebSocket frame of up to 125 bytes, as a client sends it."""
    mask = os.urandom(4)
    return bytes([0x80 | opcode, 0x80 | len(payload)]) + mask + bytes(
        b ^ mask[i % 4] for i, b in enumerate(payload))


class Flood(threading.Thread):
    """A page that sends `data` over and over, as fast as the server takes
    it, and never reads; `cut` tells whether the server ended the connection
    within `seconds`."""

    def __init__(self, server, data, seconds=20):
        super().__init__(daemon=True)
        status, self.sock = handshake(server, server.origin, keep=True)
        assert status == 101
        self.data, self.seconds, self.cut = data * 64, seconds, False
        self.start()

    def run(self):
        end = time.monotonic() + self.seconds
        self.sock.settimeout(1)
        try:
            while time.monotonic() < end:
                try:
                    self.sock.sendall(self.data)
                except socket.timeout:
                    pass
        except OSError:
            self.cut = True
        self.sock.close()
