"""The main window: start-up screen, placement, styles, message table, the
window menu's own items, keys that must not close it, and the resources
compiled into the program."""

import os
import struct
import subprocess
import time

import lcd
from pe import read_pe
from harness import (CLASS, CMD_ABOUT, CMD_APPLY_SETTINGS, SETUP_TITLE, WM_CHAR, WM_CLOSE,
                     WM_COMMAND, WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_TIMER,
                     WS_EX_TOPMOST, Dialog, wait_until, windows_path)

WINDOW_STYLE = 0x00CA0000  # WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX
# Those, a sizing border, a maximise box, popup and child: only the first three are set.
FRAME_BITS = WINDOW_STYLE | 0x00040000 | 0x00010000 | 0x80000000 | 0x40000000
WM_PAINT = 0x000F
VK_F4 = 0x73
ALT_CONTEXT = 1 << 29
RT_ICON, RT_MENU, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 4, 14, 16, 24
WM_SYSCOMMAND = 0x0112
SYS_ON_TOP = 0x30  # the window menu's "Always on Top"
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def test_startup_screen_at_every_scale_and_scheme(env):
    for blk_on_grn in (1, 0):
        for scale in (1, 2, 3, 4):
            app = env.launch(lcd.config(blk_on_grn=blk_on_grn, scale=scale))
            app.expect_placement(scale)
            style, _ = app.styles()
            assert style & FRAME_BITS == WINDOW_STYLE, hex(style)

            # q72render's start-up screen at (0, 0), the class background around it,
            # both in what the window drew and on the X display.
            _, _, client_width, client_height = app.client()
            bitmap = env.renderer.startup_png(scale, blk_on_grn)
            expected = lcd.client_image(client_width, client_height, bitmap, blk_on_grn)
            app.wait_image(expected)
            shot = app.screenshot()
            assert shot == expected, shot.difference(expected)
            assert app.close() == 0


def test_whole_lcd_at_192_dpi(env):
    # A display scaled to 200 %: a taller caption and a thicker frame. The
    # outer height (and width) is the table's where that leaves room for the
    # whole LCD, else just enough for it; the system may widen a window to fit
    # its caption's buttons.
    with env.scaled(192) as scaled:
        for scale in (1, 2, 3, 4):
            app = scaled.launch(lcd.config(scale=scale))
            left, top, right, bottom = app.rect()
            _, client_top, width, height = app.client()
            assert (left, top) == (50, 50), app.rect()
            assert client_top - top > 30, ("a caption drawn at 192 dpi", client_top - top)
            lcd_width, lcd_height = lcd.bitmap_size(scale)
            table_width, table_height = lcd.OUTER_SIZES[scale]
            frame_width, frame_height = right - left - width, bottom - top - height
            assert (right - left >= max(table_width, lcd_width + frame_width)
                    and bottom - top == max(table_height, lcd_height + frame_height)), \
                ("scale %d" % scale, app.rect(), app.client())
            bitmap = scaled.renderer.startup_png(scale, 1)
            app.wait_image(lcd.client_image(width, height, bitmap, 1))
            assert app.close() == 0


def test_window_class_and_menu(env):
    app = env.launch()
    class_style, name = env.probe.value("classinfo %d" % app.hwnd).split()
    assert (int(class_style, 0), name) == (0x23, CLASS)
    assert int(env.probe.value("menu %d" % app.hwnd), 0) == 0, "no menu bar"
    assert app.close() == 0


def test_message_table_answers(env):
    app = env.launch(lcd.config(scale=2))
    answers = [
        (WM_CHAR, ord("a"), 0, 1),
        (WM_KEYDOWN, 0x41, 0, 1),
        (WM_KEYUP, 0x41, 0, 1),
        (WM_KEYDOWN, 0x5B, 0, 0),  # the left Windows key is answered with 0
        (WM_KEYUP, 0x5B, 0, 0),
        (WM_SYSKEYDOWN, VK_F4, ALT_CONTEXT, 1),  # Alt+F4 never reaches the default handling
        (WM_SYSKEYUP, VK_F4, ALT_CONTEXT, 1),
        (WM_SYSKEYDOWN, 0x12, ALT_CONTEXT, 1),
        (WM_TIMER, 1234, 0, 1),
        (WM_TIMER, 99, 0, 1),
        (WM_PAINT, 0, 0, 1),
        (WM_COMMAND, CMD_APPLY_SETTINGS, 0, 1),
        (WM_COMMAND, 1, 0, 0),  # any other command goes to the default handling
    ]  # WM_RBUTTONDOWN and command 6001 open the modal setup dialog: see test_dialogs
    for msg, wparam, lparam, answer in answers:
        assert app.send(msg, wparam, lparam) == answer, (hex(msg), wparam)
    time.sleep(0.3)
    assert app.alive() and app.find_window() == app.hwnd
    assert [w for w in env.top_level_windows() if w[0] != hex(app.hwnd)] == [], \
        "nothing else opened"
    assert app.close() == 0


def choose_from_window_menu(app, place_from_end):
    """Opens the window menu with a click on the caption's icon and chooses
    the item `place_from_end` places up from its end, with the arrow keys."""
    left, top, _, _ = app.rect()
    _, client_top, _, _ = app.client()
    time.sleep(0.6)  # two clicks on the icon within the double-click time close the window
    app.env.xdotool("mousemove", str(left + 10), str((top + client_top) // 2), "click", "1")
    wait_until(lambda: any(cls == "#32768" for _, cls, _ in app.env.top_level_windows()), 5,
               "the window menu")
    app.env.xdotool("key", *["Up"] * place_from_end + ["Return"])
    wait_until(lambda: all(cls != "#32768" for _, cls, _ in app.env.top_level_windows()), 5,
               "the window menu to close")


def test_window_menu(env):
    # Its own items end the menu: "Setup...", "Copy Screen", "Always on Top".
    app = env.launch(lcd.config(blk_on_grn=0, scale=3))
    choose_from_window_menu(app, 2)
    picture, text = wait_until(env.clipboard, 5, "the copy on the clipboard")
    # q72render's picture at the scale and in the scheme shown, and the text.
    assert picture == env.renderer.startup_png(3, 0)
    rows = ["", "  Q72 CW Modem 1.0", "", " 1.Right Click", " 2.Set Com Port",
            " 3.Select Open I/F", " 4.^V on Q72 to Sync", ""]
    assert text == "".join(row.ljust(21) + "\r\n" for row in rows).encode()

    # Always on Top, once unchecked, stays off for the run, also when the
    # setup dialog applies the settings again.
    assert app.styles()[1] & WS_EX_TOPMOST
    choose_from_window_menu(app, 1)
    wait_until(lambda: not app.styles()[1] & WS_EX_TOPMOST, 5, "the window to leave the top")
    assert app.send(WM_COMMAND, CMD_APPLY_SETTINGS) == 1
    assert not app.styles()[1] & WS_EX_TOPMOST
    app.post(WM_SYSCOMMAND, SYS_ON_TOP | 0x3)  # the low four bits are the system's
    wait_until(lambda: app.styles()[1] & WS_EX_TOPMOST, 5, "the window to be on top again")

    choose_from_window_menu(app, 3)
    setup = Dialog(app, SETUP_TITLE)
    setup.post(WM_CLOSE)
    setup.wait_closed()
    assert app.close() == 0


def test_apply_settings_restores_place_and_size(env):
    app = env.launch(lcd.config(scale=3))
    env.probe.call("move %d 300 200 200 100" % app.hwnd)
    assert app.rect() == (300, 200, 500, 300)
    assert app.send(WM_COMMAND, CMD_APPLY_SETTINGS) == 1
    assert app.rect() == (50, 50, 450, 285)
    assert app.styles()[1] & WS_EX_TOPMOST
    assert app.close() == 0


def press_alt_f4(env, xid):
    env.xdotool("windowfocus", "--sync", xid)
    assert env.xdotool("getwindowfocus") == xid
    env.xdotool("key", "alt+F4")


def test_alt_f4_does_not_close_the_window(env):
    # The same keys close an ordinary window, so they do arrive.
    notepad = env.spawn(["wine", "notepad"])
    xid = wait_until(lambda: env.xdotool("search", "--onlyvisible", "--name", "Notepad"), 20,
                     "notepad")
    press_alt_f4(env, xid.split()[0])
    notepad.wait(timeout=10)

    app = env.launch()
    press_alt_f4(env, app.xid)
    time.sleep(0.5)
    assert app.alive() and app.find_window() == app.hwnd
    assert app.close() == 0


def parse_menu(data):
    """A MENU template as nested lists of (text, id) and (text, [items])."""
    assert struct.unpack_from("<HH", data) == (0, 0)
    pos = 4

    def items():
        nonlocal pos
        level = []
        while True:
            flags, = struct.unpack_from("<H", data, pos)
            pos += 2
            ident = None
            if not flags & 0x10:
                ident, = struct.unpack_from("<H", data, pos)
                pos += 2
            end = data.index(b"\0\0", pos)
            while (end - pos) % 2:
                end = data.index(b"\0\0", end + 1)
            text = data[pos:end].decode("utf-16-le")
            pos = end + 2
            level.append((text, items() if flags & 0x10 else ident))
            if flags & 0x80:
                return level
    return items()


def test_resources(env):
    def resource(kind, ident):
        path = env.scratch("resource.bin")
        env.probe.call("resource %s %d %d %s" % (windows_path(env.exe), kind, ident,
                                                  windows_path(path)))
        with open(path, "rb") as f:
            return f.read()

    assert parse_menu(resource(RT_MENU, 2001)) == [
        ("&Help", [("&About T83display Program", CMD_ABOUT)])]

    # The committed icon at the sizes Windows shows, 32-bit, which the glyph
    # tool still writes byte for byte.
    with open(os.path.join(REPO, "res", "q72display.ico"), "rb") as f:
        committed = f.read()
    group = resource(RT_GROUP_ICON, 8001)
    assert struct.unpack_from("<HHH", group) == (0, 1, 5)
    for k, side in enumerate((16, 24, 32, 48, 256)):
        width, height, colours, _, planes, bits, size, image_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * k)
        assert (width or 256, height or 256, colours, bits) == (side, side, 0, 32)
        offset = struct.unpack_from("<I", committed, 6 + 16 * k + 12)[0]
        assert resource(RT_ICON, image_id) == committed[offset:offset + size]
    regenerated = env.scratch("q72icon.ico")
    subprocess.run([os.path.join(env.native_build, "tools", "q72icon"), regenerated], check=True)
    with open(regenerated, "rb") as f:
        assert f.read() == committed, "res/q72display.ico is out of date: rerun q72icon"

    version = resource(RT_VERSION, 1)
    fixed = version.index(struct.pack("<I", 0xFEEF04BD))
    assert struct.unpack_from("<II", version, fixed + 8) == (0x00010000, 0)
    assert "Q72display 1.0".encode("utf-16-le") in version

    manifest = resource(RT_MANIFEST, 1).decode("utf-8")
    assert 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' in " ".join(
        manifest.split())


def test_program_file(env):
    machine, magic, subsystem, imports = read_pe(env.exe)
    assert (machine, magic, subsystem) == (0x8664, 0x20B, 2), "64-bit, GUI subsystem"
    # advapi32 and setupapi list the ports, shell32 splits the command line,
    # oleacc, ole32 and oleaut32 hand the LCD to screen readers.
    system = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "msvcrt.dll",
              "advapi32.dll", "setupapi.dll", "shell32.dll", "oleacc.dll", "ole32.dll",
              "oleaut32.dll"}
    assert set(imports) <= system, sorted(set(imports) - system)
    # ANSI forms only, but for the message boxes that name the record file,
    # whose name is kept wide.
    wide = [name for dll in ("user32.dll", "gdi32.dll") for name in imports.get(dll, [])
            if name.endswith("W")]
    assert wide == ["MessageBoxW"], wide
    assert "CreateFileW" in imports["kernel32.dll"]
    assert "CreateWindowExA" in imports["user32.dll"]
