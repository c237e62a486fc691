// The interpreter's host on the GLib main loop: the lock that guards the map
// and the cursor, the repaint requests merged into frames, the 100 ms tick
// that expires flash messages, and what the change reader tells screen
// readers. It needs no display, so the window and a headless server can both
// build on it; everything but the lock runs on the main loop.
#pragma once
#include "app/change_reader.h"
#include "app/lcd_view.h"

// Held while one byte is interpreted, while a painter takes its copy of the
// map, and around the tick's flash countdown; never across a repaint.
void map_lock();
void map_unlock();

// Hands the lock, the repaint requests and the change reader to the
// interpreter, and starts the tick.
void connect_interpreter();

// `frame` runs when the map has changed since the last frame: the reader's
// repaint requests, merged while one frame is pending, or a flash that
// expired. At most eight listeners.
void on_frame(void (*frame)());

// `speech` runs after each frame, and on a tick that has something to tell,
// with the change reader's events since the last call and the text after them.
void on_speech(void (*speech)(const Speech *events, int count, const TextView &view));

// Runs the speech listeners now, with what is queued and the current text:
// the text before the modem has sent anything.
void tell_speech();

// Tells the link's state to the speech listeners when it differs from the
// state last told (closed at start).
void tell_link_state(LinkState state);

// A painter's copy of the map.
void map_snapshot_for_paint(LcdImage image);
