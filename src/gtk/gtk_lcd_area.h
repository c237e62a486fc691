// The LCD's widget: a drawing area that screen readers see as a terminal
// named "Q72 LCD". Its text is the change reader's view of the screen (8
// lines, row 1 in words, the caret at the cursor); words the modem writes at
// the cursor are told as inserted text, new screens and alerts through the
// LCD's description, and other changes not at all. It never reads the map
// while it is being read, and it reads or sends nothing on the link.
#pragma once
#include <gtk/gtk.h>

// The LCD widget, able to take the keyboard focus; it listens to the host's
// speech from now on. One per program.
GtkWidget *lcd_area_new();

// Notes a key pressed or released in the window: what a screen reader makes
// of the next text told depends on it.
void lcd_area_key(const GdkEventKey *event);
