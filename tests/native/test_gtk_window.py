"""The main window: place, size, keep-above, and the start-up screen
pixel-identical to q72render's at every scale and scheme; the window menu."""

from gtk_harness import CANCEL, SETUP_TITLE, TITLE, Dialog, scheme_name


def test_startup_screen_at_every_scale_and_scheme(env):
    for scale in (1, 2, 3, 4):
        for blk_on_grn in (1, 0):
            app = env.launch("--scale", str(scale), "--scheme", scheme_name(blk_on_grn))
            assert app.client() == (50, 50, 128 * scale, 64 * scale), (scale, app.client())
            assert (app.title(), app.keep_above()) == (TITLE, True)
            app.wait_image(env.renderer.startup_png(scale, blk_on_grn))
            assert app.close() == 0


def test_window_menu_opens_on_middle_and_ctrl_left_click(env):
    app = env.launch()
    for button, modifiers in ((2, ()), (1, ("Control_L",))):
        app.open_menu(button, *modifiers)
        env.xdotool("key", "Down", "Return")  # "Setup..."
        setup = Dialog(app, SETUP_TITLE)
        setup.press(CANCEL)
        setup.wait_closed()
    assert app.settings() is None, "nothing saved"
    assert app.close() == 0
