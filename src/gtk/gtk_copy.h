// "Copy Screen": the LCD to the clipboard.
#pragma once
#include <gtk/gtk.h>

// Puts the screen on the clipboard of `widget`'s display both as an image,
// the bitmap at the current scale and scheme (the renderer's pixels), and as
// text, 8 lines of 21 characters read back from the cells ('#' for a code
// with no printable character).
void copy_screen(GtkWidget *widget);
