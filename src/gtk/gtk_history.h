// The history window, "Q72display History": the lines the history keeps,
// each with its time, then the rows now on screen, as read-only text that
// can be searched (Ctrl+F), selected, copied and saved as a transcript.
// Its keys are its own: nothing typed there goes to the modem.
#pragma once
#include <gtk/gtk.h>

// Opens the window, or brings it to the front when it is open already.
void history_window_open();
