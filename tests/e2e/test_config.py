"""The configuration file beside the program: loading, creating, odd contents,
the path it is kept at, and saves that cannot complete."""

import os

import lcd
from harness import BLACK_ON_GREEN, CMD_APPLY_SETTINGS, DONE, WM_COMMAND, windows_path

DEFAULTS = bytes([0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0])


def expect_settings(env, app, blk_on_grn, scale):
    """Placement and start-up screen as the record's scheme and scale make them."""
    app.expect_placement(scale)
    app.expect_lcd(env.renderer.startup_map(), scale, blk_on_grn)


def leftovers(app):
    """Files in the program's folder other than the program and its configuration."""
    names = set(os.listdir(app.folder)) - {os.path.basename(app.exe),
                                          os.path.basename(app.config_path)}
    return sorted(names)


def test_missing_file_is_created_with_the_defaults(env):
    app = env.launch()
    assert app.config_bytes() == DEFAULTS
    expect_settings(env, app, 1, 1)
    assert leftovers(app) == []
    assert app.close() == 0
    assert app.config_bytes() == DEFAULTS


def test_file_sets_port_scheme_and_scale(env):
    file = bytes([5, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0])
    app = env.launch(file)
    expect_settings(env, app, 0, 3)
    assert app.close() == 0
    assert app.config_bytes() == file


def test_short_and_long_files(env):
    long_file = lcd.config(blk_on_grn=0, scale=2) + bytes(range(0xE0, 0xE8))
    cases = [
        (long_file, 0, 2),        # only the first 12 bytes count
        (b"", 0, 0),              # all zero: white on blue, scale 0
        (b"\x07", 0, 0),          # port 7, the rest zero
        (bytes([9, 0, 0, 0, 1]), 1, 0),
    ]
    for file, blk_on_grn, scale in cases:
        app = env.launch(file)
        expect_settings(env, app, blk_on_grn, scale)
        assert app.close() == 0
        assert app.config_bytes() == file, "a loaded file is never rewritten"


def test_unusual_scales_and_schemes(env):
    for blk_on_grn, scale in ((2, 2), (-1, 1), (1, 5), (0, 7), (1, 255)):
        app = env.launch(lcd.config(blk_on_grn=blk_on_grn, scale=scale))
        expect_settings(env, app, blk_on_grn, scale)
        # Re-applying the settings leaves a window whose scale has no size as it is.
        app.send(WM_COMMAND, CMD_APPLY_SETTINGS)
        expect_settings(env, app, blk_on_grn, scale)
        assert app.close() == 0


def test_path_is_the_program_path_with_extension_cfg(env):
    cases = [
        ("exe", "q72display.exe", "q72display.cfg"),
        ("my.exe.files", "Q72DISPLAY.EXE", "Q72DISPLAY.cfg"),
        ("tools", "q72.v2.exe", "q72.v2.cfg"),
        ("d" * 180, "q72display.exe", "q72display.cfg"),
        # A path with no room for the temporary file's suffix: written in place.
        (257, "q72display.exe", "q72display.cfg"),
    ]
    for folder_name, exe_name, config_name in cases:
        if isinstance(folder_name, int):  # sized for a configuration path of that length
            length = folder_name
            base = os.path.join(env.root, "runs", "000")
            folder_name = "e" * (length - len(windows_path(base)) - 2 - len(config_name))
            assert len(windows_path(os.path.join(base, folder_name, config_name))) == length
        folder = env.new_folder(folder_name)
        app = env.launch(folder=folder, exe_name=exe_name)
        assert app.close() == 0
        assert sorted(os.listdir(folder)) == sorted([exe_name, config_name]), folder
        with open(os.path.join(folder, config_name), "rb") as f:
            assert f.read() == DEFAULTS


def test_too_long_program_path_runs_with_defaults_and_writes_nothing(env):
    # The path is cut off inside a folder name with a dot: taken as it is, the
    # cut-off path would put a file "x.cfg" in the parent folder.
    parent = env.new_folder()
    start = len(windows_path(parent)) + 1
    folder = os.path.join(parent, "x." + "y" * (270 - start))
    os.makedirs(folder)
    app = env.launch(folder=folder)
    assert len(windows_path(app.exe)) > 260
    expect_settings(env, app, 1, 1)
    assert app.close() == 0
    assert os.listdir(folder) == [os.path.basename(app.exe)]
    assert os.listdir(parent) == [os.path.basename(folder)]


def test_unreadable_file_reports_and_runs_on_zeros(env):
    app = env.app()
    os.symlink("/proc/self/mem", app.config_path)  # opens, but reading offset 0 fails
    app.start()
    box, text = app.wait_message_box("Error")
    assert text == "Read config file failed."
    assert app.find_window() == 0, "the window comes after the message"
    app.answer_message_box(box)
    app.wait_window()
    expect_settings(env, app, 0, 0)
    assert app.close() == 0
    assert os.readlink(app.config_path) == "/proc/self/mem"


def test_locked_file_keeps_its_content(env):
    file = lcd.config(com_port=4, blk_on_grn=0, scale=2)
    app = env.app(file)
    handle = env.probe.value("hold " + windows_path(app.config_path))
    try:
        app.start().wait_window()
        expect_settings(env, app, 1, 1)  # cannot be read: defaults, whose save cannot land
        assert leftovers(app) == []
    finally:
        env.probe.call("release " + handle)
    assert app.close() == 0
    assert app.config_bytes() == file


def test_save_where_no_file_can_be_created_is_silent(env):
    # The file's name taken by a folder: it cannot be opened, nor replaced.
    app = env.app()
    os.mkdir(app.config_path)
    app.start().wait_window()
    expect_settings(env, app, 1, 1)
    assert os.listdir(app.config_path) == []
    assert leftovers(app) == []
    assert app.close() == 0

    # No file, and the temporary file's name taken by a folder: the file is
    # written in place.
    app = env.app()
    os.mkdir(app.config_path + ".tmp")
    app.start().wait_window()
    expect_settings(env, app, 1, 1)
    assert app.config_bytes() == DEFAULTS
    assert app.close() == 0


def test_failed_replace_reports_over_the_setup_dialog(env):
    # Another program has the file open for reading and writing but not for
    # deletion: it can be written, not replaced.
    file = lcd.config(com_port=3, blk_on_grn=0, scale=2)
    app = env.launch(file)
    handle = env.probe.value("share " + windows_path(app.config_path))
    try:
        setup = app.open_setup()
        setup.click(BLACK_ON_GREEN)
        setup.click(DONE)
        box, text = app.wait_message_box("Error")
        assert text == "Save State Failed."
        assert int(env.probe.value("owner %d" % box), 0) == setup.hwnd
        app.answer_message_box(box)
        setup.wait_closed()
    finally:
        env.probe.call("release " + handle)
    assert leftovers(app) == [], "the temporary file is removed"
    assert app.config_bytes() == file
    assert app.close() == 0


def test_failed_write_reports_and_leaves_the_old_file(env):
    file = lcd.config(com_port=3, blk_on_grn=0, scale=4)
    app = env.app(file)
    handle = env.probe.value("hold " + windows_path(app.config_path))
    try:
        app.start(max_file_size=0)
        box, text = app.wait_message_box("Error")
        assert text == "Save State Failed."
        app.answer_message_box(box)
        app.wait_window()
        expect_settings(env, app, 1, 1)
    finally:
        env.probe.call("release " + handle)
    assert leftovers(app) == [], "the temporary file is removed"
    assert app.close() == 0
    assert app.config_bytes() == file
