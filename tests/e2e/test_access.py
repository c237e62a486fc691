"""What a screen reader gets from the program under Wine: the LCD's MSAA
object read through AccessibleObjectFromWindow, and the win events it raises
as the modem writes, heard by the probe through SetWinEventHook with each
object's name and value read as the event arrives."""

import subprocess
import time

import lcd
from harness import (BLACK_ON_GREEN, CANCEL, DONE, LINK, SET_COM_PORT, SETUP_TITLE, SIZE_LIST,
                     WHITE_ON_BLUE, WM_CLOSE, Dialog, wait_until)
from keys import start_modem
from test_link import open_link, play

VALUE_CHANGE, LIVE_REGION = 0x800E, 0x8019
OBJID_CLIENT = -4
ROLE_SYSTEM_TEXT = 42
FOCUSED, READONLY, FOCUSABLE = 0x4, 0x40, 0x100000


def decoded(hex_text):
    return "" if hex_text == "-" else bytes.fromhex(hex_text).decode("utf-8")


def rendered_text(env, data):
    """q72render's text of the start-up screen followed by `data`, with the
    CRLF line breaks of an MSAA value."""
    stream, out = env.scratch("text.bin"), env.scratch("text.txt")
    with open(stream, "wb") as f:
        f.write(data)
    subprocess.run([env.q72render, "--startup", stream, out], check=True, capture_output=True)
    with open(out, encoding="utf-8") as f:
        return f.read()[:-1].replace("\n", "\r\n")


def read_object(app, hwnd, *item):
    """The client object of window `hwnd` or of its dialog item."""
    role, state, x, y, width, height, name, value, children = app.env.probe.value(
        " ".join(["acc", str(hwnd)] + [str(ident) for ident in item])).split()
    return {"role": int(role), "state": int(state, 0),
            "location": (int(x), int(y), int(width), int(height)),
            "name": decoded(name), "value": decoded(value), "children": int(children)}


def read_lcd(app):
    return read_object(app, app.hwnd)


HEARD = []  # every event since the watch began


def watch(env, hwnd):
    HEARD.clear()
    env.probe.call("accwatch %d" % hwnd)


def heard(env):
    """The events logged since the last call: (event, object, child, name, value)."""
    lines, _ = env.probe.call("accevents")
    events = []
    for line in lines:
        event, obj, child, name, value = line.split("\t")
        events.append((int(event, 0), int(obj), int(child), decoded(name), decoded(value)))
    HEARD.extend(events)
    return events


def heard_until(env, done, quiet=1.2, timeout=20):
    """Events until done(events) holds and then none came for `quiet` seconds
    (a speed is told up to a second late)."""
    events = []
    wait_until(lambda: events.extend(heard(env)) or done(events), timeout, "the events expected")
    last = time.monotonic()
    while time.monotonic() - last < quiet:
        assert time.monotonic() - last < timeout, "events never stopped: %r" % events[-5:]
        time.sleep(0.1)
        more = heard(env)
        if more:
            events += more
            last = time.monotonic()
    return events


def spoken(events):
    """The texts of the live-region events, each an element of the LCD's own."""
    for event, obj, child, _, _ in events:
        assert event in (VALUE_CHANGE, LIVE_REGION), hex(event)
        assert obj == OBJID_CLIENT
        assert (child == 0) == (event == VALUE_CHANGE), "value of the LCD, speech of a child"
    return [name for event, _, _, name, _ in events if event == LIVE_REGION]


def test_screen_readers_read_the_lcd_and_hear_what_the_modem_writes(env):
    pair = env.serial(28)
    app = env.launch(lcd.config(com_port=28, scale=2))
    assert read_lcd(app)["value"] == rendered_text(env, b"")
    watch(env, app.hwnd)
    setup = open_link(app)
    setup.post(WM_CLOSE)
    setup.wait_closed()
    wait_until(lambda: "Q72 Linked" in spoken(heard(env)), 10, "the link's state told")

    # A recorded session: the value is the 8 rows, row 1 in words.
    sent = play(env, pair, ["s003.bin"])
    expected = rendered_text(env, sent)
    assert expected.split("\r\n")[0].rstrip() == "HKC,   <, signal 8, user 4, W"
    wait_until(lambda: read_lcd(app)["value"] == expected, 10, "the session's text")
    env.xdotool("windowfocus", "--sync", app.xid)
    wait_until(lambda: read_lcd(app)["state"] & FOCUSED, 5, "the LCD focused")
    shown = read_lcd(app)
    assert (shown["name"], shown["role"], shown["state"]) == (
        "Q72 LCD", ROLE_SYSTEM_TEXT, FOCUSABLE | FOCUSED | READONLY)
    assert shown["location"] == app.client()
    heard_until(env, lambda events: True)

    # Characters one by one at the cursor: each spoken once, in order, each
    # after a value change whose value shows those typed so far.
    typed = "CQ DE Q72"
    row3 = expected.split("\r\n")[2]
    pair.send(b"\x97\x01\x03")
    for ch in typed:
        pair.send(b"\x8e" + ch.encode())
        time.sleep(0.15)
    sent += b"\x97\x01\x03" + b"".join(b"\x8e" + ch.encode() for ch in typed)
    events = heard_until(env, lambda events: "".join(spoken(events)) == typed)
    assert "".join(spoken(events)) == typed, events
    assert [event for event, *_ in events] == [VALUE_CHANGE, LIVE_REGION] * (len(events) // 2)
    counts = [next(k for k in range(1, len(typed) + 1)
                   if value.split("\r\n")[2] == typed[:k] + row3[k:])
              for event, _, _, _, value in events if event == VALUE_CHANGE]
    assert counts == sorted(counts) and counts[-1] == len(typed), counts
    assert read_lcd(app)["value"] == rendered_text(env, sent)

    # A page of text is one change.
    page = b"\x8b\x01" + b"PAGE OF TEXT ".ljust(80, b"-")
    pair.send(page)
    sent += page
    events = heard_until(env, spoken)
    assert spoken(events) == ["screen changed"]
    assert [(event, value) for event, _, _, _, value in events if event == VALUE_CHANGE] == [
        (VALUE_CHANGE, rendered_text(env, sent))]

    # A flash message is announced once, and its expiry is silent.
    pair.send(b"\xa1QRM!")
    sent += b"\xa1QRM!"
    events = heard_until(env, spoken, quiet=2)  # past the flash's expiry
    assert spoken(events) == ["QRM!"]
    assert read_lcd(app)["value"] == rendered_text(env, sent)

    # The spoken texts are the LCD's children, as many as it counts.
    children = read_lcd(app)["children"]
    told = [child for event, _, child, _, _ in HEARD if event == LIVE_REGION]
    assert max(told) <= children == min(len(told) + told[0] - 1, 64), (told, children)

    # Signal meter redraws change row 1 quietly: no event, the value still
    # up to date when asked. (The first redraw may tell that the flash took
    # its flag with it as it expired.)
    pair.send(b"\x9e")
    sent += b"\x9e"
    heard_until(env, lambda events: True)
    for level in (3, 7, 2, 9, 5):
        meter = b"\x93" + bytes([level]) + b"\x9e"
        pair.send(meter)
        sent += meter
        time.sleep(0.3)
    wait_until(lambda: read_lcd(app)["value"].split("\r\n")[0].rstrip() ==
               "HKC,   <, signal 5, user 4", 5, "the last level")
    assert read_lcd(app)["value"].split("\r\n")[1:] == rendered_text(env, sent).split("\r\n")[1:]
    assert heard_until(env, lambda events: True) == []
    assert app.close() == 0


def test_the_keyboard_reaches_the_window_menu_and_the_setup_dialog(env):
    pair = env.serial(29)
    log = start_modem(env, pair)
    app = env.launch(lcd.config(com_port=29, blk_on_grn=0, scale=2))
    setup = open_link(app)
    setup.post(WM_CLOSE)
    setup.wait_closed()
    env.xdotool("windowfocus", "--sync", app.xid)
    env.xdotool("key", "a")
    log.wait_for(ord("A"), 0, 30, "a key through the open link")

    # The Menu key opens the window menu; its fourth item from the end is Setup.
    env.xdotool("key", "Menu")
    wait_until(lambda: any(cls == "#32768" for _, cls, _ in env.top_level_windows()), 5,
               "the window menu")
    env.xdotool("key", "Up", "Up", "Up", "Up", "Return")
    setup = Dialog(app, SETUP_TITLE)

    # Tab walks through every control that takes input, the colour scheme
    # once, in the order they stand.
    stops = []
    for _ in range(12):
        stops.append(int(env.probe.value("focus %d" % setup.hwnd)))
        env.xdotool("key", "Tab")
        time.sleep(0.1)
    scheme = [k for k, ident in enumerate(stops) if ident in (BLACK_ON_GREEN, WHITE_ON_BLUE)]
    assert len(scheme) == 2, stops
    cycle = [SIZE_LIST, SET_COM_PORT, LINK, DONE, CANCEL]
    assert stops[scheme[0] + 1:scheme[1]] == cycle, stops
    assert (setup.checked(BLACK_ON_GREEN), setup.checked(WHITE_ON_BLUE)) == (0, 1)
    env.xdotool("key", *["Tab"] * (stops[scheme[0]:].index(CANCEL)))
    assert int(env.probe.value("focus %d" % setup.hwnd)) == CANCEL
    env.xdotool("key", "space")
    setup.wait_closed()

    # Of all these keys the modem got only the first.
    env.xdotool("windowfocus", "--sync", app.xid)
    env.xdotool("key", "z")
    got, _ = log.wait_for(ord("Z"), 0, 10, "a key after the dialog")
    assert got == b"A", got
    assert app.close() == 0
