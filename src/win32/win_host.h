// How the stream interpreter reaches the window: the lock that guards the map
// and the cursor, and the repaint request.
#pragma once

// Held while one byte is interpreted and while the painter reads the map;
// never across a repaint request.
void map_lock();
void map_unlock();

// Hands the lock and the repaint of gHwnd to the interpreter.
void connect_interpreter();
