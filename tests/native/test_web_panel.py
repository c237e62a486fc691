"""The panel in a browser: the program with --headless --serve (no display)
and headless Chromium. The canvas equals q72render's picture and the text
follows; the history holds what scrolled away, after a reload too, and
saves as a transcript; keys typed in the page reach the modem as the Windows
test's list gives, and the Menu key leaves the LCD; a second page only views
until control passes to it; refusals; the page reconnects; a client that
stops reading holds up no one."""

import json
import os
import re
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
from web_harness import Browser, close_code, handshake, history_of, serve

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
    # the speeds of the recording, told at their own pace).
    before = page.announced()
    pair.send(b"\x8a\x08" + b"".join(b"\x8e" + bytes([c]) for c in b"CQ DE"))

    def typed():
        return "".join(s for s in page.said(before) if not re.fullmatch(r"[RT]X \d+", s))
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
    expected = history_of(env, sent)
    assert len(expected) > 40, expected
    ended = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() + 1))

    def shows_them(load):
        wait_until(lambda: [text for _, text in page.history()] == expected, 15,
                   "the history %s: %r" % (load, page.history()))
    shows_them("as the lines came")
    page.driver.refresh()
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


def test_a_second_page_only_views_until_control_passes_to_it(env):
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

    first.open("about:blank")  # the page is left: control passes
    second.wait_control("you")
    second.wait_text("viewers", "^1 viewer$")
    assert "You have control: keys go to the modem" in second.said()
    second.keys().xdotool("key", "c")
    log.wait_for(0x43, 0, 30, "the new controller's key")

    take = second.driver.find_element(By.ID, "take")
    take.click()  # "Give up control"
    second.wait_control("free")
    second.keys().xdotool("key", "d")
    take.click()  # "Take control"
    second.wait_control("you")
    second.keys().xdotool("key", "e")
    log.wait_for(0x45, 0, 30, "the key after taking control")
    assert log.codes() == b"ACE", log.codes()


def http_status(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as response:
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


def test_refusals_leave_the_link_undisturbed(env):
    pair = env.serial(14)
    log = start_modem(env, pair)
    server = serve(env, pair, "--serve-control")
    page = Browser(env).open(server.url)
    page.wait_control("you")
    base = "http://%s/" % server.host

    assert http_status(base) == 401
    assert http_status(base + "?token=" + server.token[:-1] + "0") == 401
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
    assert server.token not in server.stderr()


def test_the_page_reconnects_after_the_server_restarts(env):
    pair = env.serial(15)
    config = env.new_folder("config")
    server = serve(env, pair, config_home=config)
    page = Browser(env).open(server.url)
    page.wait_text("connection", "^Connected$")
    assert server.close() == 0
    # It waits 1 s, then 2 s, then 4 s, and says so.
    page.wait_text("connection", "trying again in 4 s", timeout=15)
    assert "Connection to the station lost: trying again" in page.said()
    server = serve(env, pair, config_home=config, address=server.host)  # the same token
    page.wait_text("connection", "^Connected$", timeout=15)
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
