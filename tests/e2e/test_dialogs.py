"""The setup dialog and the port dialog: their templates, what they show when
they open, the port list, and which settings reach memory and the file."""

import os
import struct
import time

import lcd
from harness import (BLACK_ON_GREEN, CANCEL, COM_PORT_TEXT, DONE, LINK, LINK_STATUS, OK,
                     PORT_CANCEL, PORT_LIST, PORT_TITLE, SET_COM_PORT, SETUP_TITLE, SIZE_LIST,
                     WHITE_ON_BLUE, WM_CLOSE, WM_COMMAND, Dialog, wait_until, windows_path)

RT_DIALOG = 5
IDCANCEL = 2  # the command Esc produces

WS_CHILD, WS_VISIBLE, WS_GROUP, WS_TABSTOP = 0x40000000, 0x10000000, 0x00020000, 0x00010000
WS_BORDER, WS_VSCROLL = 0x00800000, 0x00200000
BS_PUSHBUTTON, BS_GROUPBOX, BS_AUTORADIOBUTTON = 0x0, 0x7, 0x9
CBS_DROPDOWN, CBS_SORT = 0x2, 0x100
SS_CENTER, SS_CENTERIMAGE = 0x1, 0x200
CLASS_ATOMS = {0x80: "BUTTON", 0x82: "STATIC", 0x85: "COMBOBOX"}

# (id, class, text, styles besides WS_CHILD | WS_VISIBLE, x, y, width, height)
SETUP_ITEMS = [
    (4004, "BUTTON", "Color Scheme", BS_GROUPBOX, 4, 4, 68, 40),
    (4002, "BUTTON", "Black on Green", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 8, 16, 60, 10),
    (4003, "BUTTON", "White on Blue", BS_AUTORADIOBUTTON, 8, 28, 56, 10),
    (4009, "STATIC", "Display Size", SS_CENTER | WS_GROUP, 72, 4, 64, 8),
    (4008, "COMBOBOX", "", CBS_DROPDOWN | CBS_SORT | WS_VSCROLL | WS_BORDER | WS_TABSTOP,
     88, 16, 32, 56),
    (4010, "STATIC", "Com Port: ?", SS_CENTER | SS_CENTERIMAGE | WS_GROUP, 72, 48, 64, 16),
    (4005, "BUTTON", "Set Com Port", BS_PUSHBUTTON | WS_TABSTOP, 8, 48, 52, 16),
    (4012, "STATIC", "", SS_CENTER | SS_CENTERIMAGE | WS_GROUP, 72, 32, 64, 16),
    (4006, "BUTTON", "", BS_PUSHBUTTON | WS_TABSTOP, 8, 72, 40, 16),
    (4011, "BUTTON", "Done", BS_PUSHBUTTON | WS_TABSTOP, 56, 72, 32, 16),
    (4007, "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 96, 72, 32, 16),
]
PORT_ITEMS = [
    (1, "BUTTON", "OK", BS_PUSHBUTTON | WS_TABSTOP, 60, 28, 45, 15),
    (2, "BUTTON", "Cancel", BS_PUSHBUTTON | WS_TABSTOP, 8, 28, 45, 15),
    (4001, "COMBOBOX", "", CBS_DROPDOWN | WS_BORDER | WS_TABSTOP, 28, 4, 48, 92),
]


def parse_dialogex(data):
    """A DIALOGEX template: (style, x, y, width, height, title, font, items)
    with font (face, points) and items as in SETUP_ITEMS, full styles."""
    def text_or_atom(pos):
        first, = struct.unpack_from("<H", data, pos)
        if first == 0xFFFF:
            return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
        end = pos
        while struct.unpack_from("<H", data, end)[0]:
            end += 2
        return data[pos:end].decode("utf-16-le"), end + 2

    version, signature, _, _, style, count, x, y, width, height = struct.unpack_from(
        "<HHIIIHhhhh", data)
    assert (version, signature) == (1, 0xFFFF), "an extended template"
    menu, pos = text_or_atom(26)
    window_class, pos = text_or_atom(pos)
    title, pos = text_or_atom(pos)
    assert (menu, window_class) == ("", ""), "no menu, the standard dialog class"
    points, = struct.unpack_from("<H", data, pos)
    face, pos = text_or_atom(pos + 6)
    items = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        _, _, item_style, ix, iy, iwidth, iheight, ident = struct.unpack_from(
            "<IIIhhhhI", data, pos)
        cls, pos = text_or_atom(pos + 24)
        text, pos = text_or_atom(pos)
        extra, = struct.unpack_from("<H", data, pos)
        pos += 2 + extra
        cls = CLASS_ATOMS.get(cls, cls.upper() if isinstance(cls, str) else cls)
        items.append((ident, cls, text, item_style, ix, iy, iwidth, iheight))
    return style, x, y, width, height, title, (face, points), items


def test_dialog_templates(env):
    def template(ident):
        path = env.scratch("dialog.bin")
        env.probe.call("resource %s %d %d %s" % (windows_path(env.exe), RT_DIALOG, ident,
                                                  windows_path(path)))
        with open(path, "rb") as f:
            return parse_dialogex(f.read())

    def full(items):
        return [(ident, cls, text, WS_CHILD | WS_VISIBLE | style) + tuple(place)
                for ident, cls, text, style, *place in items]

    assert template(1001) == (0x10CC08CC, 6, 18, 138, 94, SETUP_TITLE, ("MS Shell Dlg", 9),
                              full(SETUP_ITEMS))
    assert template(1002) == (0x90C800CC, 6, 18, 110, 50, PORT_TITLE, ("Tahoma", 8),
                              full(PORT_ITEMS))


def expect_setup(dialog, port_text, blk_on_grn, size_position):
    assert dialog.text(LINK_STATUS) == "Q72 I/F Closed"
    assert dialog.text(LINK) == "Open I/F"
    assert dialog.text(COM_PORT_TEXT) == port_text
    assert dialog.items(SIZE_LIST) == (["1X", "2X", "3X", "4X"], size_position)
    assert (dialog.checked(BLACK_ON_GREEN), dialog.checked(WHITE_ON_BLUE)) == \
        ((1, 0) if blk_on_grn else (0, 1))


def test_setup_dialog_shows_the_settings(env):
    cases = [
        (lcd.config(), "Com Port: ?", 1, 0),
        (lcd.config(com_port=7, blk_on_grn=0, scale=4), "Com Port: 7", 0, 3),
        (lcd.config(com_port=200, blk_on_grn=2, scale=2), "Com Port: 200", 1, 1),
        (b"", "Com Port: ?", 0, -1),  # scale 0: no size selected
        (lcd.config(scale=9), "Com Port: ?", 1, -1),
    ]
    for config, port_text, blk_on_grn, size_position in cases:
        app = env.launch(config)
        expect_setup(app.open_setup(), port_text, blk_on_grn, size_position)
        app.kill()


def test_right_click_opens_setup_and_esc_leaves_it_open(env):
    app = env.launch()
    x, y, _, _ = app.client()
    env.xdotool("mousemove", str(x + 20), str(y + 20), "click", "3")
    setup = Dialog(app, SETUP_TITLE)
    expect_setup(setup, "Com Port: ?", 1, 0)

    # Esc, as a key and as the command it produces, does not close it ...
    xid = env.xdotool("search", "--onlyvisible", "--name", "^%s$" % SETUP_TITLE)
    env.xdotool("windowfocus", "--sync", xid)
    env.xdotool("key", "Escape")
    setup.post(WM_COMMAND, IDCANCEL)
    # ... while the same key does close the port dialog, so it does arrive.
    setup.click(SET_COM_PORT)
    ports = Dialog(app, PORT_TITLE)
    xid = env.xdotool("search", "--onlyvisible", "--name", "^%s$" % PORT_TITLE)
    env.xdotool("windowfocus", "--sync", xid)
    env.xdotool("key", "Escape")
    ports.wait_closed()
    time.sleep(0.3)
    assert setup.is_open()
    setup.click(CANCEL)
    setup.wait_closed()
    assert app.close() == 0


def port_names(numbers, names=None):
    """The list's entries: "comN", and the device's name after two spaces if it has one."""
    names = names or {}
    return ["com%d  %s" % (n, names[n]) if n in names else "com%d" % n for n in sorted(numbers)]


def choose_port(setup, position=None, end=OK):
    """Opens the port dialog, selects `position` and ends it with `end`
    (a button id, or WM_CLOSE for the close box). Returns the list shown."""
    setup.click(SET_COM_PORT)
    ports = Dialog(setup.app, PORT_TITLE)
    shown = ports.items(PORT_LIST)
    if position is not None:
        ports.select(PORT_LIST, position)
    if end == WM_CLOSE:
        ports.post(WM_CLOSE)
    else:
        ports.click(end)
    ports.wait_closed()
    return shown


def test_port_dialog_lists_and_stores_ports(env):
    app = env.launch(lcd.config(com_port=23, pad1=b"\x01\x02\x03"))
    setup = app.open_setup()
    assert setup.text(COM_PORT_TEXT) == "Com Port: 23"
    # What Wine itself offers (it maps the machine's serial devices to low numbers).
    own, selected = choose_port(setup, end=PORT_CANCEL)
    own_numbers = [int(name.split()[0][3:]) for name in own]
    assert selected == -1 and all(n < 20 for n in own_numbers), own

    # Present while the dialog is open: the list is made each time it opens,
    # from the ports their drivers list, with the names devices have; and
    # none of the ports is opened for it.
    low = env.free_port_number(n for n in range(1, 10) if n not in own_numbers)
    pairs = {n: env.serial(n) for n in (low, 23, 35, 80)}
    env.name_port(35, "Q72 USB Modem (COM35)")
    env.name_port(80, "Bluetooth Link")
    opens = {n: pair.opens() for n, pair in pairs.items()}
    listed = port_names(own_numbers + list(pairs), {35: "Q72 USB Modem", 80: "Bluetooth Link"})
    com35 = listed.index("com35  Q72 USB Modem")
    entries, selected = choose_port(setup, com35, OK)
    assert (entries, selected) == (listed, listed.index("com23"))
    assert setup.text(COM_PORT_TEXT) == "Com Port: 35"
    assert {n: watch.count() for n, watch in opens.items()} == dict.fromkeys(pairs, 0)

    # Cancel, Esc's command and the close box leave the port as it is.
    for end in (PORT_CANCEL, WM_CLOSE):
        assert choose_port(setup, listed.index("com%d" % low), end) == (listed, com35)
        assert setup.text(COM_PORT_TEXT) == "Com Port: 35"
    # Only "Open I/F" opens a port (which the watch does see).
    setup.click(LINK)
    setup.wait_text(LINK_STATUS, "Q72 Linked")
    assert opens[35].count() == 1 and sum(w.count() for w in opens.values()) == 1
    setup.click(LINK)
    setup.wait_text(LINK_STATUS, "Q72 I/F Closed")

    # A stored port that is gone: nothing selected, and OK keeps the port.
    pairs[35].close()
    listed.remove("com35  Q72 USB Modem")
    assert choose_port(setup, None, OK) == (listed, -1)
    assert setup.text(COM_PORT_TEXT) == "Com Port: 35"

    # Cancel restores the port the dialog opened with; nothing is written.
    setup.click(CANCEL)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=23, pad1=b"\x01\x02\x03")

    # The close box keeps a chosen port in memory, unsaved, until "Done".
    setup = app.open_setup()
    assert setup.text(COM_PORT_TEXT) == "Com Port: 23"
    choose_port(setup, listed.index("com80  Bluetooth Link"), OK)
    setup.post(WM_CLOSE)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=23, pad1=b"\x01\x02\x03")
    setup = app.open_setup()
    assert setup.text(COM_PORT_TEXT) == "Com Port: 80"
    setup.click(DONE)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=80, pad1=b"\x01\x02\x03")
    assert app.close() == 0


def test_done_saves_scheme_and_scale_and_resizes(env):
    start = lcd.config(com_port=23, blk_on_grn=1, scale=1, pad1=b"\xaa\x00\x55",
                       pad2=b"\x00\x7f\x01")
    app = env.launch(start)
    env.probe.call("move %d 120 90 150 110" % app.hwnd)
    setup = app.open_setup()
    setup.click(WHITE_ON_BLUE)
    setup.select(SIZE_LIST, 2)
    wait_until(lambda: setup.checked(WHITE_ON_BLUE) and not setup.checked(BLACK_ON_GREEN), 5,
               "White on Blue to be checked")
    setup.click(DONE)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=23, blk_on_grn=0, scale=3,
                                            pad1=b"\xaa\x00\x55", pad2=b"\x00\x7f\x01")
    assert lcd.fields_of(app.config_bytes()) == (23, 0, 3)
    # At the place it had when the dialog opened, with the size for 3X; the
    # margins keep the background of the scheme in force at start.
    assert app.rect() == (120, 90, 520, 325)
    app.expect_lcd(env.renderer.startup_map(), 3, 0, start_blk_on_grn=1)

    # "Done" with nothing changed still writes the file and re-applies the size.
    os.remove(app.config_path)
    env.probe.call("move %d 200 100 300 300" % app.hwnd)
    setup = app.open_setup()
    expect_setup(setup, "Com Port: 23", 0, 2)
    setup.click(DONE)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=23, blk_on_grn=0, scale=3,
                                            pad1=b"\xaa\x00\x55", pad2=b"\x00\x7f\x01")
    assert app.rect() == (200, 100, 600, 335)
    assert app.close() == 0


def test_done_with_no_size_selected_keeps_the_scale(env):
    # Typing into the size list's edit field clears its selection, as this does.
    app = env.launch(lcd.config(com_port=23, blk_on_grn=1, scale=2))
    setup = app.open_setup()
    setup.select(SIZE_LIST, -1)
    assert setup.items(SIZE_LIST) == (["1X", "2X", "3X", "4X"], -1)
    setup.click(WHITE_ON_BLUE)
    setup.click(DONE)
    setup.wait_closed()
    assert app.config_bytes() == lcd.config(com_port=23, blk_on_grn=0, scale=2)
    app.expect_placement(2)
    app.expect_lcd(env.renderer.startup_map(), 2, 0, start_blk_on_grn=1)
    assert app.close() == 0


def test_cancel_restores_all_three_settings(env):
    start = lcd.config(com_port=23, blk_on_grn=1, scale=2)
    app = env.launch(start)
    env.serial(36)
    setup = app.open_setup()
    entries, _ = choose_port(setup, end=PORT_CANCEL)
    choose_port(setup, entries.index("com36"), OK)
    assert setup.text(COM_PORT_TEXT) == "Com Port: 36"
    setup.click(WHITE_ON_BLUE)
    setup.select(SIZE_LIST, 3)
    wait_until(lambda: setup.checked(WHITE_ON_BLUE), 5, "White on Blue to be checked")
    setup.click(CANCEL)
    setup.wait_closed()
    assert app.config_bytes() == start
    app.expect_placement(2)
    app.expect_lcd(env.renderer.startup_map(), 2, 1)

    # The record holds the old values again: the dialog shows them, and "Done"
    # writes them.
    setup = app.open_setup()
    expect_setup(setup, "Com Port: 23", 1, 1)
    os.remove(app.config_path)
    setup.click(DONE)
    setup.wait_closed()
    assert app.config_bytes() == start
    app.expect_placement(2)
    assert app.close() == 0
