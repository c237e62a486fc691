// The screen the LCD shows from start-up until the modem draws.
#pragma once

// Clears the map, puts the hidden cursor at (1, 1) and writes the four
// instruction lines, exactly as the main window does when it is created.
void draw_startup_screen();
