// How the stream interpreter reaches the window: the lock that guards the map
// and the cursor, and the repaint request, which may come from any thread.
#pragma once
#include <gtk/gtk.h>

// Held while one byte is interpreted, while the painter takes its copy of the
// map, and around the tick's flash countdown; never across a repaint.
void map_lock();
void map_unlock();

// Hands the lock and the repaints of `area` to the interpreter. Requests from
// the reader are merged: at most one is waiting in the main loop at a time,
// and the frame it leads to shows the map as it is then.
void connect_interpreter(GtkWidget *area);
