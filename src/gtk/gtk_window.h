// The main window: the LCD at the chosen scale and scheme, the 100 ms tick,
// the keys, the mouse gestures and the window menu, and the caption that
// tells a lost link.
#pragma once
#include <gtk/gtk.h>

// Builds the window "Q72display 1.0" at (50, 50), kept above other windows,
// with the start-up screen in the map; it is not shown yet.
GtkWindow *window_create();

// Takes the scale and the scheme now in q72cfg: new size, repaint.
void window_apply_settings();

// Shows the link's state in the caption and in the setup dialog, if open.
void window_show_link_state();
