// The program's error boxes: caption "Error", one OK button.
#pragma once
#include <gtk/gtk.h>

// A new box over `owner`, not shown yet: `primary` above `secondary` (may be
// nullptr). Long words such as paths wrap, so the box is never wider than
// the screen.
GtkWidget *error_box_new(GtkWindow *owner, const char *primary, const char *secondary);

// Shows a new box that closes itself when answered; the caller goes on.
void error_box_show(GtkWindow *owner, const char *primary, const char *secondary);
