"""Key presses reach the modem: real X key events (XTEST) in the focused main
window, and the key codes the simulated modem receives, in order, with the
link open and with it closed."""

import lcd
from harness import LINK, SETUP_TITLE, WM_CLOSE, WM_KEYDOWN, Dialog
from keys import XK_NUM_LOCK, XKeyboard, hex_bytes, start_modem

SHIFT, CTRL, ALT = "Shift_L", "Control_L", "Alt_L"
XK_SHIFT_R, XK_CONTROL_R, XK_SUPER_R, XK_KP_7 = 0xFFE2, 0xFFE4, 0xFFEC, 0xFFB7
VK_SHIFT, VK_CONTROL = 0x10, 0x11
# lParam of an auto-repeated key-down: scan code, previous state down, count 1.
REPEAT_LPARAM = {VK_SHIFT: 0x402A0001, VK_CONTROL: 0x401D0001}
CHORD_PRESS, CHORD_RELEASE = b"\xf6", b"\xf7"
START_KEY, START_CODE = "space", 0x20
GROUP_END_KEY, GROUP_END_CODE = "Escape", 0x1B  # no group below sends 0x1B

DIGITS = ["1", "2", "3", "4", "5", "6", "7", "8", "9", "0"]
PAGES_AND_ARROWS = ["Prior", "Next", "Left", "Up", "Right", "Down"]
EDITING = ["Home", "End", "Insert", "Delete"]
PUNCTUATION = ["semicolon", "equal", "comma", "minus", "period", "slash", "grave",
               "bracketleft", "backslash", "bracketright", "apostrophe"]


def tap(*keys):
    return [["key"] + list(keys)]


def holding(modifiers, *keys):
    """Modifiers pressed in order, keys tapped, modifiers released in reverse."""
    return [[word for m in modifiers for word in ("keydown", m)] + ["key"] + list(keys)
            + [word for m in reversed(modifiers) for word in ("keyup", m)]]


class AutoRepeat:
    """The auto-repeated key-downs Windows sends for held Shift and Ctrl. X
    repeats no modifier key, and drops a second XTEST press of a held key, so
    they are posted to the window as Windows would send them, once the code
    `after` shows that the held keys have been handled."""

    def __init__(self, vks, after):
        self.vks = vks
        self.after = after


def groups(kbd):
    """(name, steps, expected key codes): steps are xdotool argument lists or
    AutoRepeat."""
    shift_r, ctrl_r = kbd.keycode(XK_SHIFT_R), kbd.keycode(XK_CONTROL_R)
    num_lock, keypad_7 = kbd.keycode(XK_NUM_LOCK), kbd.keycode(XK_KP_7)
    return [
        ("letters", tap("a", "q", "z"), b"\x41\x51\x5a"),
        ("Shift+letters", holding([SHIFT], "a", "z"), b"\x41\x5a"),
        ("Ctrl+letters", holding([CTRL], "a", "q", "z"), b"\x01\x11\x1a"),
        ("Ctrl+Shift+A", holding([CTRL, SHIFT], "a"), CHORD_PRESS + b"\x01" + CHORD_RELEASE),
        ("digits", tap(*DIGITS), b"1234567890"),
        ("Shift+digits", holding([SHIFT], *DIGITS), b"!@#$%^&*()"),
        ("Ctrl+digits", holding([CTRL], *DIGITS), b"\xa0\xa1\xa2\xa3\xa4" b"67890"),
        ("Ctrl+Shift+digits", holding([CTRL, SHIFT], *DIGITS),
         CHORD_PRESS + b"!@#$%^&*()" + CHORD_RELEASE),
        ("function keys", tap("F1", "F10", "F11", "F12"), b"\xb0\xb9\xba\xbb"),
        ("Shift+function keys", holding([SHIFT], "F1", "F10", "F12"), b"\xc8\xd1\xd3"),
        ("Ctrl+F1", holding([CTRL], "F1"), b"\xb0"),
        ("Ctrl+Shift+F1", holding([CTRL, SHIFT], "F1"), CHORD_PRESS + b"\xc8" + CHORD_RELEASE),
        ("page and arrow keys", tap(*PAGES_AND_ARROWS), b"\xe0\xe1\xe4\xe2\xe5\xe3"),
        ("Shift+page and arrow keys", holding([SHIFT], *PAGES_AND_ARROWS),
         b"\xd6\xd7\xda\xd8\xdb\xd9"),
        ("Ctrl+page and arrow keys", holding([CTRL], *PAGES_AND_ARROWS),
         b"\xf4\xf5\xf2\xf0\xf3\xf1"),
        ("Ctrl+Shift+page and arrow keys", holding([CTRL, SHIFT], *PAGES_AND_ARROWS),
         CHORD_PRESS + b"\xf4\xf5\xf2\xf0\xf3\xf1" + CHORD_RELEASE),
        ("right Shift+Up, right Ctrl+Left",
         holding([shift_r], "Up") + holding([ctrl_r], "Left"), b"\xd8\xf2"),
        ("Home End Insert Delete", tap(*EDITING), b"\xde\xdf\xdd\xe6"),
        ("Shift+Home End Insert Delete", holding([SHIFT], *EDITING), b"\xde\xdf\xdd\xe6"),
        ("Ctrl+Home End Insert Delete", holding([CTRL], *EDITING), b"\xde\xdf\xdd\xe6"),
        ("Backspace Tab Enter", tap("BackSpace", "Tab", "Return"), b"\xed\xee\xe9"),
        ("Shift+Backspace Tab Enter", holding([SHIFT], "BackSpace", "Tab", "Return"),
         b"\xed\xee\xe9"),
        ("punctuation", tap(*PUNCTUATION), b";=,-./`[\\]'"),
        ("Shift+punctuation", holding([SHIFT], *PUNCTUATION), b':+<_>?~{|}"'),
        ("Ctrl+punctuation", holding([CTRL], *PUNCTUATION), b";=,-./`[\\]'"),
        # Num Lock is off when the groups start and off again after this one.
        ("keypad 7 with Num Lock off, on, off",
         tap(keypad_7, num_lock, keypad_7) + holding([CTRL], keypad_7)
         + tap(num_lock, keypad_7),
         b"\xde\x90\x47\x07\x90\xde"),
        ("Caps Lock on and off", tap("Caps_Lock", "a") + holding([SHIFT], "a")
         + tap("Caps_Lock", "a"), b"\x14\x41\x41\x14\x41"),
        ("left and right Windows keys", tap("Super_L", kbd.keycode(XK_SUPER_R)), b"\xec\xed\x5c"),
        ("Shift or Ctrl alone", tap(SHIFT, CTRL), b""),
        ("Ctrl, Shift held and repeating, Shift up, Ctrl up",
         [["keydown", CTRL, "keydown", SHIFT]]
         + [AutoRepeat([VK_SHIFT, VK_CONTROL, VK_SHIFT, VK_SHIFT], CHORD_PRESS[0])]
         + [["keyup", SHIFT, "keyup", CTRL]], CHORD_PRESS + CHORD_RELEASE),
        ("Shift, Ctrl held and repeating, Ctrl up, Shift up",
         [["keydown", SHIFT, "keydown", CTRL]]
         + [AutoRepeat([VK_CONTROL, VK_CONTROL, VK_SHIFT], CHORD_PRESS[0])]
         + [["keyup", CTRL, "keyup", SHIFT]], CHORD_PRESS + CHORD_RELEASE),
        ("Alt alone and Alt+A", tap(ALT) + holding([ALT], "a"), b""),
    ]


def focus(env, app):
    env.xdotool("windowfocus", "--sync", app.xid)


def right_click(env, app):
    """Opens the setup dialog with a real right click: it is handled after
    every key event sent before it."""
    x, y, width, height = app.client()
    env.xdotool("mousemove", str(x + width // 2), str(y + height // 2), "click", "3")
    return Dialog(app, SETUP_TITLE)


def switch_link(env, app, caption):
    """Right click, Open I/F or Close I/F, close the dialog, focus the window."""
    setup = right_click(env, app)
    setup.click(LINK)
    setup.wait_text(LINK, caption)
    setup.post(WM_CLOSE)
    setup.wait_closed()
    focus(env, app)


def run_steps(env, app, log, steps, wait_start=None):
    """Sends one group's key events. With wait_start (link open), auto-repeats
    wait for their held keys' codes after that position of the log; with the
    link closed there is nothing to wait for, and nothing may be sent in any
    order."""
    for step in steps:
        if isinstance(step, AutoRepeat):
            if wait_start is not None:
                log.wait_for(step.after, wait_start, 30, "the held keys")
            for vk in step.vks:
                app.post(WM_KEYDOWN, vk, REPEAT_LPARAM[vk])
        else:
            env.xdotool(*step)


def set_locks(env, kbd, caps_lock, num_lock):
    """Presses Caps Lock and Num Lock as needed to reach the given states."""
    caps, num = kbd.locks()
    if caps != caps_lock:
        env.xdotool("key", "Caps_Lock")
    if num != num_lock:
        env.xdotool("key", kbd.keycode(XK_NUM_LOCK))


def expect_groups(env, log, all_groups, at, send):
    """Sends each group's steps with send(steps, start), then the group end
    key, and checks what the modem got for each group; `at` is the log
    position of the key before the first group. Returns the position of the
    last group's end key. The native test uses it too."""
    wrong = []
    for name, steps, expected in all_groups:
        start = at + 1
        send(steps, start)
        env.xdotool("key", GROUP_END_KEY)
        got, at = log.wait_for(GROUP_END_CODE, start, 30, "the end of group " + name)
        if got != expected:
            wrong.append("%s: expected %s, got %s" % (name, hex_bytes(expected), hex_bytes(got)))
    assert not wrong, "with the link open:\n" + "\n".join(wrong)
    return at


def test_keys_reach_the_modem_only_while_the_link_is_open(env):
    pair = env.serial(23)
    log = start_modem(env, pair)
    app = env.launch(lcd.config(com_port=23))
    kbd = XKeyboard(env.display)
    initial_locks = kbd.locks()
    try:
        switch_link(env, app, "Close I/F")
        # Lock keys the window does not see would make Wine send made-up lock
        # key presses at the next key; the start key takes whatever comes.
        set_locks(env, kbd, False, False)
        env.xdotool("key", START_KEY)
        _, at = log.wait_for(START_CODE, 0, 30, "the first key")

        all_groups = groups(kbd)
        expect_groups(env, log, all_groups, at,
                      lambda steps, start: run_steps(env, app, log, steps, start))
        assert kbd.locks() == (False, False)

        switch_link(env, app, "Open I/F")
        closed_from = len(log.codes())
        for _, steps, _ in all_groups:
            run_steps(env, app, log, steps)
            env.xdotool("key", GROUP_END_KEY)
        # A chord pressed while closed still sets the chord flag, so its
        # release after reopening reports it: this also shows the keys above
        # reached the window.
        env.xdotool("keydown", CTRL, "keydown", SHIFT)
        switch_link(env, app, "Close I/F")
        env.xdotool("keyup", SHIFT, "keyup", CTRL, "key", START_KEY)
        got, _ = log.wait_for(START_CODE, closed_from, 30, "the first key after reopening")
        assert got == CHORD_RELEASE, ("with the link closed nothing, then the chord's release: "
                                      "the modem got " + hex_bytes(got))
        assert kbd.locks() == (False, False)
        assert app.close() == 0
    finally:
        env.xdotool("keyup", SHIFT, CTRL, ALT, kbd.keycode(XK_SHIFT_R), kbd.keycode(XK_CONTROL_R))
        set_locks(env, kbd, *initial_locks)
        kbd.close()
