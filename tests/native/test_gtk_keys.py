"""Real X key events (XTEST) in the focused main window reach the modem as the
bytes the Windows program sends for them: the Windows end-to-end key list,
with the link open, and nothing with it closed; and the keys of other layouts
with the virtual keys Windows gives them there."""

import subprocess
import time

from gtk_harness import CANCEL, LINK

from harness import wait_until
from keys import hex_bytes, start_modem
from test_gtk_link import readers
from test_keys import (ALT, CTRL, GROUP_END_KEY, SHIFT, START_CODE, START_KEY, XK_CONTROL_R,
                       XK_SHIFT_R, AutoRepeat, expect_groups, groups, set_locks)

CHORD_RELEASE = b"\xf7"
XK_SHIFT_L, XK_CONTROL_L = 0xFFE1, 0xFFE3

# Keys by their place, named by what the US layout types there ("<" is the
# extra key of 102-key keyboards): X keycodes, as evdev numbers the keys.
US_ROWS = ((10, "1234567890-="), (24, "qwertyuiop[]"), (38, "asdfghjkl;'`"),
           (51, "\\zxcvbnm,./"), (94, "<"))
PLACE = {key: first + i for first, row in US_ROWS for i, key in enumerate(row)}


def run_steps(env, steps):
    """One group's key events. X repeats no modifier key, so the Windows
    list's posted auto-repeats have no counterpart here and are left out; the
    key table test covers repeated presses."""
    for step in steps:
        if not isinstance(step, AutoRepeat):
            env.xdotool(*step)


def switch_link(app, open_):
    setup = app.open_setup()
    setup.press(LINK)
    wait_until(lambda: readers(app) == (1 if open_ else 0), 5, "the link to switch")
    setup.press(CANCEL)
    setup.wait_closed()
    app.focus()


def test_keys_reach_the_modem_only_while_the_link_is_open(env):
    pair = env.serial(4)
    log = start_modem(env, pair)
    app = env.launch("--port", pair.device, "--open")
    kbd = env.keyboard
    initial_locks = kbd.locks()
    try:
        wait_until(pair.holders, 5, "the port to open")
        time.sleep(0.6)  # keys go out once the port has settled
        app.focus()
        set_locks(env, kbd, False, False)
        env.xdotool("key", START_KEY)
        _, at = log.wait_for(START_CODE, 0, 30, "the first key")
        all_groups = groups(kbd)
        expect_groups(env, log, all_groups, at, lambda steps, start: run_steps(env, steps))
        assert kbd.locks() == (False, False)

        switch_link(app, False)
        closed_from = len(log.codes())
        for _, steps, _ in all_groups:
            run_steps(env, steps)
            env.xdotool("key", GROUP_END_KEY)
        # A chord pressed while closed sets the chord flag; its release goes
        # to the dialog, so the flag stays until Shift goes up in the window
        # again, after reopening: this also shows the keys above reached it.
        env.xdotool("keydown", CTRL, "keydown", SHIFT)
        setup = app.open_setup()
        env.xdotool("keyup", SHIFT, "keyup", CTRL)
        setup.press(LINK)
        wait_until(lambda: readers(app) == 1, 5, "the link to open")
        setup.press(CANCEL)
        setup.wait_closed()
        app.focus()
        env.xdotool("key", SHIFT, START_KEY)
        got, _ = log.wait_for(START_CODE, closed_from, 30, "the first key after reopening")
        assert got == CHORD_RELEASE, ("with the link closed nothing, then the chord's release: "
                                      "the modem got " + hex_bytes(got))
        assert app.close() == 0
    finally:
        env.xdotool("keyup", SHIFT, CTRL, ALT, kbd.keycode(XK_SHIFT_R),
                    kbd.keycode(XK_CONTROL_R))
        set_locks(env, kbd, *initial_locks)


def layout_groups(kbd):
    """(layouts, the group to lock, [(name, [(held keycodes, keycodes)],
    expected key codes)]). The codes are those of the virtual keys Windows
    gives the keys in its layout of that name: German numbers its signs in
    its own way, Russian every key as the US key in its place, and Dvorak its
    signs as the US keys typing them."""
    shift, ctrl = int(kbd.keycode(XK_SHIFT_L)), int(kbd.keycode(XK_CONTROL_L))

    def keys(us_keys, *held):
        return [(held, [PLACE[key] for key in us_keys])]

    return [
        (["-layout", "de"], 0, [
            ("German signs", keys(";'[-]\\`=/,.<"), b"`';[=/\\]-,.\xe2"),
            ("German Z and Y", keys("yz"), b"ZY"),
            ("Shift+German signs", keys(";'[-]\\`=/yz", shift), b'~":{+?|}_ZY'),
            ("Ctrl+German Z and Y", keys("yz", ctrl), b"\x1a\x19"),
        ]),
        # Russian as the second group: the first one's keys must not count.
        (["-layout", "de,ru"], 1, [
            ("Russian letters", keys("aqyzl"), b"AQYZL"),
            ("Russian signs", keys("`-=[];'\\,./<"), b"`-=[];'\\,./\xe2"),
            ("Russian digits", keys("10"), b"10"),
            ("Shift+Russian keys", keys("a/", shift), b"A?"),
            ("Ctrl+Russian letters", keys("az", ctrl), b"\x01\x1a"),
        ]),
        (["-layout", "us", "-variant", "dvorak"], 0, [
            ("Dvorak signs and letters", keys("qwez-=[]'a;"), b"',.;[]/=-AS"),
        ]),
    ]


def type_keys(kbd, steps):
    for held, keycodes in steps:
        for keycode in held:
            kbd.key(keycode, True)
        for keycode in keycodes:
            kbd.key(keycode, True)
            kbd.key(keycode, False)
        for keycode in reversed(held):
            kbd.key(keycode, False)


def set_layout(env, *args):
    subprocess.run(["setxkbmap", "-display", env.display] + list(args), check=True)


def test_keys_of_other_layouts_send_what_windows_sends(env):
    pair = env.serial(5)
    log = start_modem(env, pair)
    app = env.launch("--port", pair.device, "--open")
    kbd = env.keyboard
    query = subprocess.run(["setxkbmap", "-display", env.display, "-query"], check=True,
                           capture_output=True, text=True).stdout
    initial = dict(line.split(":", 1) for line in query.splitlines())
    try:
        wait_until(pair.holders, 5, "the port to open")
        time.sleep(0.6)  # keys go out once the port has settled
        app.focus()
        env.xdotool("key", START_KEY)
        _, at = log.wait_for(START_CODE, 0, 30, "the first key")
        for layout, group, checks in layout_groups(kbd):
            set_layout(env, *layout)
            kbd.lock_group(group)
            at = expect_groups(env, log, checks, at, lambda steps, start: type_keys(kbd, steps))
        assert app.close() == 0
    finally:
        kbd.lock_group(0)
        set_layout(env, "-layout", initial["layout"].strip(),
                   "-variant", initial.get("variant", "").strip())
