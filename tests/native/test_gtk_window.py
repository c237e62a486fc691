"""The main window: place, size, keep-above, and the start-up screen
pixel-identical to q72render's at every scale and scheme, also where a widget
unit is 3 device pixels; X11 before Wayland; the window menu and its copy of
the screen, which a clipboard manager keeps once the program has ended; the
history window as a screen reader reads it, and its copy saved; the window's
icon, the Windows program's."""

import os
import socket
import struct
import subprocess
import time

import lcd
from gtk_harness import CANCEL, SETUP_TITLE, TITLE, Dialog, scheme_name
from history import history_of
from harness import wait_until
from images import Image
from keys import start_modem
from test_gtk_link import transcript_lines, wait_held
from test_link import play

HISTORY_TITLE = "Q72display History"


def test_startup_screen_at_every_scale_and_scheme(env):
    for scale in (1, 2, 3, 4):
        for blk_on_grn in (1, 0):
            app = env.launch("--scale", str(scale), "--scheme", scheme_name(blk_on_grn))
            assert app.client() == (50, 50, 128 * scale, 64 * scale), (scale, app.client())
            assert (app.title(), app.keep_above()) == (TITLE, True)
            app.wait_image(env.renderer.startup_png(scale, blk_on_grn))
            assert app.close() == 0

    # GDK_SCALE=3: the window is a whole number of 3-pixel units, so it is
    # rounded up, and the spare device pixels take the background colour.
    for scale, blk_on_grn, size in ((1, 1, (129, 66)), (2, 0, (258, 129))):
        app = env.launch("--scale", str(scale), "--scheme", scheme_name(blk_on_grn),
                         environment={"GDK_SCALE": "3"})
        assert app.client()[2:] == size, (scale, app.client())
        app.wait_image(lcd.client_image(*size, env.renderer.startup_png(scale, blk_on_grn),
                                        blk_on_grn))
        assert app.close() == 0

    # In a Wayland session the program takes X11 (XWayland), where keep-above
    # and the place work: a compositor that never answers is not even asked.
    with socket.socket(socket.AF_UNIX) as compositor:
        compositor.bind(env.scratch("wayland-q72"))
        compositor.listen(1)
        app = env.launch(environment={"XDG_RUNTIME_DIR": env.root,
                                      "WAYLAND_DISPLAY": "wayland-q72"})
        assert app.client()[:2] == (50, 50) and app.keep_above()
        assert app.close() == 0


STARTUP_TEXT = "\n".join(line.ljust(21) for line in (
    "", "  Q72 CW Modem 1.0", "", " 1.Right Click", " 2.Set Com Port", " 3.Select Open I/F",
    " 4.^V on Q72 to Sync", ""))


def clipboard(env, target):
    return subprocess.run(["xclip", "-display", env.display, "-selection", "clipboard", "-t",
                           target, "-o"], check=True, capture_output=True, timeout=10).stdout


def test_window_menu_opens_on_middle_and_ctrl_left_click_and_copies_the_screen(env):
    app = env.launch("--scale", "3", "--scheme", "blue")
    for button, modifiers in ((2, ()), (1, ("Control_L",))):
        app.open_menu(button, *modifiers)
        env.xdotool("key", "Down", "Return")  # "Setup..."
        setup = Dialog(app, SETUP_TITLE)
        setup.press(CANCEL)
        setup.wait_closed()
    app.open_menu(2)
    env.xdotool("key", "Down", "Down", "Down", "Return")  # "Copy Screen"
    wait_until(lambda: clipboard(env, "TARGETS"), 5, "the clipboard")
    assert Image.from_png(clipboard(env, "image/png")) == env.renderer.startup_png(3, 0)
    assert clipboard(env, "UTF8_STRING").decode() == STARTUP_TEXT
    assert app.settings() is None, "nothing saved"
    env.clipboard_manager()
    assert app.close() == 0  # SIGTERM
    assert clipboard(env, "UTF8_STRING").decode() == STARTUP_TEXT, "the copy outlives the program"


def test_the_history_window_reads_as_the_transcript_and_keeps_its_keys(env):
    """The history window, read through AT-SPI, holds the lines scrolled
    away and then the rows on screen, each after its time and a tab; keys
    typed there stay there; "Save As..." writes what the transcript (from
    the settings file) holds at the end."""
    pair = env.serial(8)
    transcript, saved = env.scratch("window-transcript.txt"), env.scratch("saved.txt")
    app = env.launch("--port", pair.device, "--open", a11y=True,
                     settings="[q72display]\ntranscript=%s\n" % transcript)
    wait_held(pair, True, "the port to open")
    time.sleep(0.6)  # the port settles
    lines, on_screen = history_of(env, play(env, pair, ["s009.bin", "s005.bin"], ["--fast"]))
    app.open_menu(2)
    env.xdotool("key", "Down", "Down", "Down", "Down", "Return")  # "History"
    history = Dialog(app, HISTORY_TITLE)

    def shown():
        texts = app.texts(HISTORY_TITLE)
        assert len(texts) == 1, texts
        rows = [line.split("\t", 1) for line in texts[0].splitlines()]
        last[:] = rows
        return rows if [text for _, text in rows] == lines + on_screen else None
    last = []
    try:
        window = wait_until(shown, 5, "the history and the rows on screen in the window")
    except AssertionError:
        raise AssertionError((last, lines, on_screen))
    log = start_modem(env, pair)
    history.press("a", "b", "Return", "ctrl+f", "c", "q", "Escape", "F2")
    app.focus()
    env.xdotool("key", "z")
    codes = wait_until(log.codes, 5, "the key typed in the main window")
    assert len(codes) == 1, ("keys typed in the history window stay there", codes)

    env.xdotool("windowfocus", "--sync", history.xid)
    history.press("alt+s")  # "Save As..."
    chooser = Dialog(app, "Save History")
    chooser.press("ctrl+a")
    env.xdotool("type", "--delay", "20", saved)
    chooser.press("Return")
    wait_until(lambda: os.path.exists(saved), 5, "the saved history")
    assert app.close() == 0
    entries, comments = transcript_lines(transcript)
    assert [text for _, text in entries] == lines + on_screen
    assert [time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(stamp))
            for stamp, _ in entries[:len(lines)]] == [stamp for stamp, _ in window[:len(lines)]]
    kept, head = transcript_lines(saved)
    assert [text for _, text in kept] == lines + on_screen and head == comments


def window_icons(env, xid):
    """_NET_WM_ICON as {side: [0xAARRGGBB, ...]}, rows top first."""
    text = subprocess.run(["xprop", "-display", env.display, "-id", xid, "-len", "10000000",
                           "-notype", "32c", "_NET_WM_ICON"], check=True, capture_output=True,
                          text=True).stdout
    values = [int(v) for v in text.split("=", 1)[1].split(",")]
    icons = {}
    while values:
        width, height = values[:2]
        assert width == height, (width, height)
        icons[width], values = values[2:2 + width * height], values[2 + width * height:]
    return icons


def ico_pixels(side):
    """res/q72display.ico's 32-bit side x side image as 0xAARRGGBB, rows top
    first."""
    path = os.path.join(os.path.dirname(__file__), "..", "..", "res", "q72display.ico")
    with open(path, "rb") as f:
        ico = f.read()
    for k in range(struct.unpack_from("<H", ico, 4)[0]):
        width, _, _, _, _, bits, _, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * k)
        if width == side:
            assert bits == 32
            bottom_up = struct.unpack_from("<%dI" % (side * side), ico, offset + 40)
            return [v for y in reversed(range(side)) for v in bottom_up[y * side:(y + 1) * side]]
    raise AssertionError("no %d x %d image in the icon" % (side, side))


def test_window_icon_is_the_windows_programs_icon_at_the_theme_sizes(env):
    app = env.launch()
    icons = window_icons(env, app.xid)
    assert {16, 24, 32, 48, 128} <= set(icons), sorted(icons)
    for side in (16, 24, 32, 48):
        assert icons[side] == ico_pixels(side), side
    assert app.close() == 0
