// How the stream interpreter reaches the window: the lock that guards the map
// and the cursor, and the repaint request, which may come from any thread.
#pragma once
#include "app/lcd_view.h"

#include <gtk/gtk.h>

// Held while one byte is interpreted, while the painter takes its copy of the
// map, and around the tick's flash countdown; never across a repaint.
void map_lock();
void map_unlock();

// Hands the lock and the repaints of `area` to the interpreter. Requests are
// merged: from the first one until the painter takes its copy of the map,
// one frame is pending and further requests add nothing.
void connect_interpreter(GtkWidget *area);

// The painter's copy of the map; a change after it asks for the next frame.
void map_snapshot_for_paint(LcdImage image);
