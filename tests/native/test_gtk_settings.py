"""The settings file and the command line. A missing, bad or unreadable file
gives the defaults (the bad and unreadable ones with a one-line warning naming
the file) and stays as it is until "Done", which saves what is in force; the
options outrank the file for the run; bad options end the program with one
line and status 2."""

import os

from gtk_harness import CANCEL, DONE, PORT_TITLE, SET_PORT, SIZE_LIST, Dialog


def expect_look(env, app, scale, blk_on_grn):
    assert app.client()[2:] == (128 * scale, 64 * scale), (scale, app.client())
    app.wait_image(env.renderer.startup_png(scale, blk_on_grn))


def saved(port, scheme, scale):
    return "[q72display]\nport=%s\nscheme=%s\nscale=%d\n" % (port, scheme, scale)


def test_missing_bad_and_unreadable_files_give_the_defaults_until_done(env):
    app = env.launch()
    expect_look(env, app, 1, 1)
    assert app.stderr() == ""
    assert app.close() == 0
    assert app.settings() is None, "nothing is saved without Done"

    for text in ("not a key file\n", "[q72display]\nscale=9\n", "[q72display]\nscale=two\n",
                 "[q72display]\nscheme=red\n", "[other]\nscale=2\n", "\xff\xfe\n"):
        app = env.launch("--scale", "3", settings=text)
        expect_look(env, app, 3, 1)
        lines = app.stderr().splitlines()
        assert len(lines) == 1 and app.settings_path in lines[0], (text, lines)
        assert app.close() == 0
        assert app.settings() == text, "a bad file is left as it was"

    # Done saves the options in force and what the dialog changes.
    app = env.launch("--scheme", "blue", settings="not a key file\n")
    setup = app.open_setup()
    setup.press(SIZE_LIST, "Down", SET_PORT)
    chooser = Dialog(app, PORT_TITLE)
    chooser.press("ctrl+a")
    env.xdotool("type", "/dev/ttyQ72")
    chooser.press("Return")
    chooser.wait_closed()
    setup.press(DONE)
    setup.wait_closed()
    assert app.settings() == saved("/dev/ttyQ72", "blue", 2)
    expect_look(env, app, 2, 0)
    assert app.close() == 0

    # Cancel restores what the dialog changed; nothing is saved.
    app = env.launch(settings=saved("/dev/ttyQ72", "blue", 2))
    expect_look(env, app, 2, 0)
    setup = app.open_setup()
    setup.press(SIZE_LIST, "Down", "Down", CANCEL)
    setup.wait_closed()
    expect_look(env, app, 2, 0)
    assert app.close() == 0
    assert app.settings() == saved("/dev/ttyQ72", "blue", 2)


def test_unreadable_file_and_a_save_that_fails(env):
    app = env.app()
    os.makedirs(app.settings_path)  # neither readable as a file nor replaceable
    app.start().wait_window()
    expect_look(env, app, 1, 1)
    assert app.settings_path in app.stderr()
    setup = app.open_setup()
    setup.press(DONE)
    Dialog(app, "Error")
    assert "Save State Failed." in app.stderr()
    assert os.path.isdir(app.settings_path)
    assert app.close() == 0


def test_bad_options_end_with_one_line_and_status_2(env):
    for args in (["--scale", "0"], ["--scale", "5"], ["--scale", "x"], ["--scale", "-1"],
                 ["--scale", ""], ["--scheme", "red"], ["--port"], ["--record"], ["--bogus"],
                 ["extra"], ["--serve", "80x"], ["--serve", "::1:8072"],
                 ["--serve", "example.org:8072"], ["--serve", "70000"], ["--max-clients", "0"],
                 ["--tls-cert", "cert.pem"]):
        status, err = env.run(*args)
        assert status == 2 and err.count("\n") == 1 and err.startswith("q72display: "), \
            (args, status, err)
    status, err = env.run("--help")
    assert status == 0 and err == ""


def test_record_files_that_cannot_be_opened(env):
    """A folder that is not there, with a name too long for one line of the
    box, and a FIFO that no program reads, which must not hold up the window."""
    fifo = env.scratch("no-reader.fifo")
    os.mkfifo(fifo)
    for path, reason in ((env.scratch("x" * 250 + "/record.bin"), "No such file or directory"),
                         (fifo, "no program reads from this FIFO")):
        app = env.launch("--record", path)
        assert app.stderr() == "q72display: cannot record to %s: %s\n" % (path, reason)
        box = Dialog(app, "Error")
        geometry = env.xdotool("getwindowgeometry", "--shell", box.xid)
        width = int(geometry.split("WIDTH=")[1].split()[0])
        assert width <= 1024, ("the box fits on the screen", width)
        assert app.alive()
        assert app.close() == 0
