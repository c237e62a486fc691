// The LCD's widget: a drawing area that screen readers see as a terminal
// named "Q72 LCD". Its text is the change reader's view of the screen (8
// lines, row 1 in words, the caret at the cursor); characters the modem
// writes at the cursor are told as inserted text, other changes quietly, and
// status news as announcements. It never reads the map while it is being
// read, and it reads or sends nothing on the link.
#pragma once
#include <gtk/gtk.h>

// The LCD widget, able to take the keyboard focus; it listens to the host's
// speech from now on. One per program.
GtkWidget *lcd_area_new();
