"""The panel in a browser: the program with --headless --serve (no display)
and headless Chromium. The canvas equals q72render's picture and the text
follows; the history holds what scrolled away, after a reload too, and
saves as a transcript; keys typed in the page reach the modem as the Windows
test's list gives, and the Menu key leaves the LCD; a second page only views
until it takes control; refusals; messages of the wrong shape; floods; the
page reconnects; a client that stops reading holds up no one. And what
anyone on the network can try: idle connections, large bodies, old TLS; and
what the server refuses to start with: a key not the certificate's, control
over plain http off loopback."""

import json
import os
import re
import resource
import socket
import ssl
import subprocess
import sys
import time
import urllib.error
import urllib.request

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select

from harness import wait_until
from keys import start_modem
from test_keys import GROUP_END_CODE, GROUP_END_KEY, START_CODE, START_KEY, AutoRepeat, \
    expect_groups, groups
from test_link import FINAL_SCREEN, play
from history import history_of
from web_harness import Browser, Flood, close_code, frame, handshake, refused_at_start, send_body, \
    serve

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "bench"))
import workload  # noqa: E402


def settled(pair):
    """The program holds the port, and bytes sent now are no longer dropped."""
    wait_until(pair.holders, 5, "the port to open")
    time.sleep(0.6)


def test_the_canvas_equals_q72renders_picture_and_the_text_follows(env):
    pair = env.serial(11)
    server = serve(env, pair, "--scale", "2", "--scheme", "blue")
    page = Browser(env).open(server.url)
    page.wait_canvas(env.renderer.startup_png(2, 0))
    settled(pair)
    sent = play(env, pair, ["s003.bin", "s009.bin"])
    page.wait_canvas(env.render_stream(sent, 2, 0))
    Select(page.driver.find_element(By.ID, "scheme")).select_by_value("green")
    page.wait_canvas(env.render_stream(sent, 2, 1))

    pair.send(FINAL_SCREEN)
    rows = ["link is back", "", "QRV 73", "", "end of test", ""]
    wait_until(lambda: page.js("return [...document.getElementById('rows').children]"
                               ".slice(1).map(e => e.textContent.trimEnd())")
               == rows + [""], 10, "rows 2 to 8 as text")
    # Characters written at the cursor are announced once, in order (beside
    # the speeds of the recording, told at their own pace, and the new screen
    # above, told once it has settled).
    before = page.announced()
    pair.send(b"\x8a\x08" + b"".join(b"\x8e" + bytes([c]) for c in b"CQ DE"))

    def typed():
        return "".join(s for s in page.said(before)
                       if not re.fullmatch(r"[RT]X \d+|screen changed", s))
    wait_until(lambda: typed() == "CQ DE", 10, "the typed characters")
    time.sleep(0.5)
    assert typed() == "CQ DE", page.said(before)


TIME = re.compile(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$")


def test_the_history_holds_what_scrolled_away_after_a_reload_too_and_saves(env):
    pair = env.serial(17)
    server = serve(env, pair)
    page = Browser(env).open(server.url)
    page.wait_text("connection", "^Connected$")
    settled(pair)
    started = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())
    sent = play(env, pair, ["s005.bin", "s000.bin", "s009.bin", "s006.bin"])
    expected, _ = history_of(env, sent)
    assert len(expected) > 40, expected
    ended = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() + 1))

    def shows_them(load):
        wait_until(lambda: [text for _, text in page.history()] == expected, 15,
                   "the history %s: %r" % (load, page.history()))
    shows_them("as the lines came")
    page.open(server.url)  # the page drops the token from its address, so load it anew
    shows_them("after a reload")
    shown = page.history()
    assert all(TIME.match(t) and started <= t <= ended for t, _ in shown), shown

    folder = env.new_folder("downloads")
    page.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                {"behavior": "allow", "downloadPath": folder})
    page.driver.find_element(By.ID, "save").click()
    saved = os.path.join(folder, "q72display-history.txt")
    wait_until(lambda: os.path.exists(saved), 10, "the saved history")
    with open(saved, encoding="utf-8", newline="") as f:
        assert f.read() == "".join("%s\t%s\n" % tuple(line) for line in shown)


class KeyNames:
    """Gives the Windows test's key list the keysym names it would look up
    on an X keyboard, which the page's keys play."""

    NAMES = {0xFFE2: "Shift_R", 0xFFE4: "Control_R", 0xFFEC: "Super_R", 0xFF7F: "Num_Lock",
             0xFFB7: "KP_7"}

    def keycode(self, keysym):
        return self.NAMES[keysym]


def test_keys_typed_in_the_page_reach_the_modem_as_the_windows_list_gives(env):
    pair = env.serial(12)
    log = start_modem(env, pair)
    server = serve(env, pair, "--serve-control")
    page = Browser(env).open(server.url)
    page.wait_control("you")
    settled(pair)
    keys = page.keys()
    keys.xdotool("key", START_KEY)
    _, at = log.wait_for(START_CODE, 0, 30, "the first key")

    # WebDriver has no Caps Lock or Num Lock: the key table test covers them.
    playable = [group for group in groups(KeyNames())
                if all(isinstance(step, AutoRepeat) or keys.can_play(step) for step in group[1])]
    left_out = {group[0] for group in groups(KeyNames())} - {group[0] for group in playable}
    assert left_out == {"keypad 7 with Num Lock off, on, off", "Caps Lock on and off"}, left_out
    # Browsers repeat no modifier key: the posted auto-repeats have no
    # counterpart here, as under X.
    expect_groups(keys, log, playable, at, lambda steps, start: [
        keys.xdotool(*step) for step in steps if not isinstance(step, AutoRepeat)])

    start = len(log.codes())
    for label in ("F2", "Shift", "F1", "Shift", "Ctrl", "Shift", "Up", "Shift", "Ctrl"):
        page.click_key(label)
    keys.xdotool("key", GROUP_END_KEY)
    got, _ = log.wait_for(GROUP_END_CODE, start, 30, "the key bar's keys")
    assert got == b"\xb1\xc8\xf6\xf0\xf7", got.hex(" ")

    # The Menu key takes the focus from the LCD to the key bar and sends
    # nothing; Shift+Tab brings it back.
    start = len(log.codes())
    for kind in ("rawKeyDown", "keyUp"):
        page.driver.execute_cdp_cmd("Input.dispatchKeyEvent", {
            "type": kind, "key": "ContextMenu", "code": "ContextMenu",
            "windowsVirtualKeyCode": 93})
    assert page.js("return document.activeElement.textContent") == "Esc"
    keys.xdotool("keydown", "Shift_L", "key", "Tab", "keyup", "Shift_L")
    assert page.js("return document.activeElement.id") == "lcd"
    keys.xdotool("key", GROUP_END_KEY)
    got, _ = log.wait_for(GROUP_END_CODE, start, 30, "the key after the Menu key")
    assert got == b"", got.hex(" ")


def test_a_second_page_only_views_until_it_takes_control(env):
    pair = env.serial(13)
    log = start_modem(env, pair)
    server = serve(env, pair, "--serve-control")
    first = Browser(env).open(server.url)
    first.wait_control("you")
    second = Browser(env).open(server.url)
    second.wait_control("other")
    first.wait_text("viewers", "^2 viewers$")
    settled(pair)

    second.keys().xdotool("key", "b", "F1", "Escape")
    first.keys().xdotool("key", "a")
    log.wait_for(0x41, 0, 30, "the controller's key")

    # The controller leaves while the other page's user types: control is
    # kept for it a while, then free, and passes to no one unasked.
    first.open("about:blank")
    second.wait_text("viewers", "^1 viewer$")
    second.keys().xdotool("key", "c")
    second.wait_control("free", timeout=15)
    assert "View only: nobody has control" in second.said()
    second.keys().xdotool("key", "c")
    take = second.driver.find_element(By.ID, "take")
    take.click()  # "Take control"
    second.wait_control("you")
    second.keys().xdotool("key", "d")
    log.wait_for(0x44, 0, 30, "the key after taking control")

    take.click()  # "Give up control"
    second.wait_control("free")
    second.keys().xdotool("key", "e")
    take.click()
    second.wait_control("you")
    second.keys().xdotool("key", "f")
    log.wait_for(0x46, 0, 30, "the key after taking control again")
    assert log.codes() == b"ADF", log.codes()


def http_status(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as response:
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


# A page as the panel's own script talks: its id, asking for control, and a key.
CLAIM = json.dumps({"t": "claim", "id": "5" * 32, "want": True})
KEY = {"t": "key", "down": True, "key": "a", "code": "KeyA", "shift": False, "ctrl": False,
       "alt": False}


def key(**members):
    return json.dumps(dict(KEY, **members))


def test_a_message_of_the_wrong_shape_closes_the_page_and_nothing_else(env):
    pair = env.serial(17)
    log = start_modem(env, pair)
    server = serve(env, pair, "--serve-control")
    settled(pair)
    # Each message is sent by a page that views, then by one that comes back
    # with the same id within the grace, and so holds control again.
    values = [1, 1.5, False, "x", None, [], {}]
    wrong = [{"t": v} for v in values if v != "x"]
    wrong += [dict(KEY, **{name: v}) for name in ("down", "key", "code", "shift", "ctrl", "alt")
              for v in values if type(v) is not type(KEY[name])]
    wrong += [{"t": "control", "take": v} for v in values if v is not False]
    wrong += [dict(KEY, extra=1), {"t": "control"}, {"t": "control", "take": True, "x": 1}]
    for message in wrong:
        assert close_code(server, json.dumps(message)) == 1008, message
        assert close_code(server, CLAIM, json.dumps(message)) == 1008, message
    claims = [{"t": "claim", "id": v, "want": True} for v in values + ["5" * 31, "G" * 32]]
    claims += [{"t": "claim", "id": "5" * 32, "want": v} for v in values if v is not False]
    for message in claims:
        assert close_code(server, json.dumps(message)) == 1008, message
    assert close_code(server, CLAIM, CLAIM) == 1008  # one claim a connection

    # Releases count among the 50 keys a second, and a chord is never left
    # held: Shift pressed and released with Ctrl down sends F6, then F7.
    chords = [key(down=down, key="Shift", code="ShiftLeft", shift=down, ctrl=True)
              for _ in range(40) for down in (True, False)]
    assert close_code(server, CLAIM, key(), *chords, key(key=7)) == 1008
    log.wait_for(0xF7, 1, 30, "the last Shift released")
    time.sleep(0.5)
    codes = log.codes()
    assert codes[:1] == b"A" and 40 <= len(codes) - 1 <= 52, codes.hex(" ")
    assert codes[1:] == b"\xf6\xf7" * ((len(codes) - 1) // 2), codes.hex(" ")
    assert server.process.poll() is None


def test_refusals_leave_the_link_undisturbed(env):
    pair = env.serial(14)
    log = start_modem(env, pair)
    server = serve(env, pair, "--serve-control")
    # A scheme named after a member every object has is no scheme.
    page = Browser(env).open(server.url + "&scheme=constructor")
    page.wait_control("you")
    base = "http://%s/" % server.host
    # The token leaves the address bar, and the page's script runs by its hash.
    assert server.token not in page.driver.current_url, page.driver.current_url
    with urllib.request.urlopen(server.url, timeout=10) as response:
        policy = response.headers["Content-Security-Policy"]
    assert re.search(r"script-src 'sha256-[A-Za-z0-9+/]{43}=';", policy), policy

    assert http_status(base) == 401
    # The token with its last digit changed: always a wrong one.
    wrong = server.token[:-1] + ("1" if server.token.endswith("0") else "0")
    assert http_status(base + "?token=" + wrong) == 401
    assert http_status(base + "ws") == 401
    assert handshake(server, server.origin, token="") == 401
    assert handshake(server, "http://evil.example") == 403
    assert handshake(server, None) == 403
    assert handshake(server, "http://127.0.0.1:%d" % (server.port + 1)) == 403
    # The page's own origin under any name of the host it was loaded from.
    for name in ("localhost", "[::1]"):
        host = "%s:%d" % (name, server.port)
        assert handshake(server, "http://" + host, host=host) == 101
    page.wait_text("viewers", "^1 viewer$")
    # The page is the first client: seven more fill the eight places.
    held = [handshake(server, server.origin, keep=True) for _ in range(7)]
    assert [status for status, _ in held] == [101] * 7
    assert handshake(server, server.origin) == 503
    for _, sock in held:
        sock.close()
    page.wait_text("viewers", "^1 viewer$")
    assert close_code(server, json.dumps({"t": "key", "key": "a" * 256})) == 1009
    assert close_code(server, json.dumps({"t": "bogus"})) == 1008
    assert close_code(server, b"\x00") == 1003

    settled(pair)
    page.keys().xdotool("key", "a")
    log.wait_for(0x41, 0, 30, "the controller's key")
    pair.send(FINAL_SCREEN)
    page.wait_canvas(env.render_stream(FINAL_SCREEN, 1, 1))
    assert log.codes() == b"A", log.codes()
    prefix = "q72display: refused 127.0.0.1: "
    refusals = server.refusals()
    assert all(line.startswith(prefix) for line in refusals), refusals
    assert [line[len(prefix):] for line in refusals] == [
        "no token", "wrong token", "no token", "wrong token", "foreign origin http://evil.example",
        "no Origin", "foreign origin http://127.0.0.1:%d" % (server.port + 1), "too many clients",
        "message over 256 bytes", "unknown message", "binary message"], refusals
    # A flood of the same refusal is counted, and summed up after 10 s.
    for _ in range(20):
        assert http_status(base + "?token=0") == 401
    wait_until(lambda: prefix + "wrong token, 19 more times in 10 s" in server.refusals(), 15,
               "the refusals summed up")
    assert server.refusals().count(prefix + "wrong token") == 3, server.refusals()
    assert server.token not in server.stderr()


def test_a_page_that_floods_is_dropped_and_holds_up_no_one(env):
    pair = env.serial(18)
    log = start_modem(env, pair)
    server = serve(env, pair, "--serve-control")
    controller = Browser(env).open(server.url)
    controller.wait_control("you")
    viewer = Browser(env).open(server.url)
    viewer.wait_control("other")
    settled(pair)
    # Messages as fast as the server takes them, then pings from a page that
    # never reads; the screen changes and the controller types meanwhile.
    floods = [(frame(0x1, json.dumps({"t": "control", "take": False}).encode()),
               "over 100 messages a second", FINAL_SCREEN, "a"),
              (frame(0x9, b"p" * 125), "over 32768 bytes a second",
               FINAL_SCREEN.replace(b"end of test".ljust(21), b"after the floods".ljust(21)),
               "b")]
    for data, reason, screen, letter in floods:
        flood = Flood(server, data)
        pair.send(screen)
        controller.keys().xdotool("key", letter)
        viewer.wait_canvas(env.render_stream(screen, 1, 1))
        log.wait_for(ord(letter.upper()), 0, 30, "the controller's key")
        flood.join()
        assert flood.cut, "the flooding page was not dropped"
        assert "refused 127.0.0.1: " + reason in server.stderr(), server.stderr()
    viewer.wait_text("viewers", "^2 viewers$")
    assert log.codes() == b"AB", log.codes()


def test_the_page_reconnects_after_the_server_restarts(env):
    pair = env.serial(15)
    config = env.new_folder("config")
    # A token set by hand that is too short to be safe is replaced.
    os.makedirs(os.path.join(config, "q72display"))
    with open(os.path.join(config, "q72display", "settings.ini"), "w") as f:
        f.write("[q72display]\ntoken=0123456789abcdef\n")
    server = serve(env, pair, "--serve-control", config_home=config)
    assert re.fullmatch("[0-9a-f]{32}", server.token), server.token
    assert "is not 32 to 64 hex digits: a new one is made" in server.stderr()
    page = Browser(env).open(server.url)
    page.wait_control("you")
    viewer = Browser(env).open(server.url)
    viewer.wait_control("other")
    assert server.close() == 0
    # It waits 1 s, then 2 s, then 4 s, and says so.
    page.wait_text("connection", "trying again in 4 s", timeout=15)
    assert "Connection to the station lost: trying again" in page.said()
    server = serve(env, pair, "--serve-control", config_home=config,
                   address=server.host)  # the same token
    # The page that held control is held up while the other comes back
    # first: control waits for the page that held it.
    page.js("const end = Date.now() + 5000; while (Date.now() < end);")
    viewer.wait_text("connection", "^Connected$")
    page.wait_control("you", timeout=15)
    viewer.wait_control("other")
    settled(pair)
    pair.send(FINAL_SCREEN)
    page.wait_canvas(env.render_stream(FINAL_SCREEN, 1, 1))


def test_a_client_that_stops_reading_holds_up_neither_the_others_nor_the_lcd(env):
    pair = env.serial(16)
    server = serve(env, pair)
    page = Browser(env).open(server.url)
    page.wait_text("connection", "^Connected$")
    status, stalled = handshake(server, server.origin, keep=True)
    assert status == 101
    page.wait_text("viewers", "^2 viewers$")
    settled(pair)
    stream = workload.stream(6 * workload.LINE_RATE, "the end")
    path = env.scratch("worst.bin")
    with open(path, "wb") as f:
        f.write(stream)
    assert env.modem(pair, [path]).wait(timeout=60) == 0
    page.wait_canvas(env.render_stream(stream, 1, 1))
    assert page.text("viewers") == "2 viewers", "the client that stopped reading is still there"
    wait_until(lambda: "stopped reading" in server.stderr(), 20, "the client to be dropped")
    page.wait_text("viewers", "^1 viewer$")
    stalled.close()


def test_idle_connections_beyond_the_descriptor_limit_lock_no_one_out(env):
    """As under systemd's default limit of 1,024 descriptors."""
    pair = env.serial(17)
    server = serve(env, pair, descriptors=1024)
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (max(soft, min(hard, 4096)), hard))
    idle = [socket.create_connection(("127.0.0.1", server.port), timeout=10)
            for _ in range(1100)]
    page = Browser(env).open(server.url)
    page.wait_text("connection", "^Connected$")
    # The oldest is closed for each one beyond 32, the rest after 10 s.
    deadline = time.monotonic() + 20
    for sock in idle:
        sock.settimeout(max(0.1, deadline - time.monotonic()))
        assert sock.recv(1) == b"", "an idle connection is still open"
        sock.close()
    lines = server.stderr().splitlines()
    assert len([line for line in lines if "refused connections" in line]) == 1, lines
    page.open(server.url)
    page.wait_text("connection", "^Connected$")


def test_bodies_and_methods_are_refused_at_the_headers(env):
    pair = env.serial(18)
    server = serve(env, pair)
    before = server.memory()
    size = 300 << 20
    for head, status, chunked in (("POST / HTTP/1.1", 413, False),
                                  ("GET /?token=%s HTTP/1.1" % server.token, 413, False),
                                  ("GET /ws?token=%s HTTP/1.1" % server.token, 413, True)):
        got, sent = send_body(server, head, size, chunked)
        assert (got, sent < size) == (status, True), (head, got, sent)
    assert server.memory() - before < 16 << 20, (before, server.memory())


def test_control_over_plain_http_only_on_loopback_unless_asked_for(env):
    pair = env.serial(19)
    status, err = refused_at_start(env, pair, "--serve", "0.0.0.0:0", "--serve-control")
    assert status == 2 and err.count("\n") == 1 and "--tls-cert" in err, (status, err)
    server = serve(env, pair, "--serve-control", "--serve-insecure", address="0.0.0.0:0")
    assert http_status("http://127.0.0.1:%d/?token=%s" % (server.port, server.token)) == 200


def negotiated(server, version, ciphers="DEFAULT:@SECLEVEL=0"):
    """The TLS version and suite a client offering only `version` and
    `ciphers` gets, or None when the handshake fails."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    context.minimum_version = context.maximum_version = version
    context.set_ciphers(ciphers)
    try:
        with socket.create_connection(("127.0.0.1", server.port), timeout=10) as raw, \
                context.wrap_socket(raw) as tls:
            return tls.version(), tls.cipher()[0]
    except (ssl.SSLError, ConnectionError):
        return None


def test_tls_1_2_or_later_with_forward_secrecy_and_a_key_that_fits(env):
    pair = env.serial(20)
    cert, key, other = env.scratch("cert.pem"), env.scratch("key.pem"), env.scratch("other.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "2", "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True)
    subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-out", other], check=True,
                   capture_output=True)
    status, err = refused_at_start(env, pair, "--serve", "127.0.0.1:0", "--tls-cert", cert,
                                   "--tls-key", other)
    assert (status, err) == (1, "q72display: cannot use %s and %s for TLS: the key is not the "
                                "certificate's\n" % (cert, other)), (status, err)

    server = serve(env, pair, "--tls-cert", cert, "--tls-key", key)
    v = ssl.TLSVersion
    assert negotiated(server, v.TLSv1) is None
    assert negotiated(server, v.TLSv1_1) is None
    assert negotiated(server, v.TLSv1_2, "AES128-SHA:AES256-GCM-SHA384") is None  # RSA exchange
    assert negotiated(server, v.TLSv1_2, "ECDHE-RSA-AES128-SHA") is None  # CBC
    assert negotiated(server, v.TLSv1_2) == ("TLSv1.2", "ECDHE-RSA-AES256-GCM-SHA384")
    assert negotiated(server, v.TLSv1_3)[0] == "TLSv1.3"
