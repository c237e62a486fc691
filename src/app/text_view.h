// The LCD as text, as a screen reader or a browser reads it: 8 lines, one per
// text row, joined by '\n'. A cell reads as the character the modem wrote
// there; a special symbol as the sign a screen reader names (an arrow, a
// block, a triangle) or as a blank. Row 1 reads as words when the status line
// was last drawn there (the reader that knows it passes them in); either way
// it is ROW1_CHARS long, so that nothing on row 1 moves the offsets below it.
#pragma once
#include "lcd/lcd.h"

#include <cstdint>

// Row 1 in words is at most this long, its zero included.
enum { ROW1_WORDS_MAX = 128 };
// Row 1's length in characters: its words or its cells, padded with spaces.
enum { ROW1_CHARS = 48 };
// Seven rows of cells of up to 3 bytes each, row 1, seven '\n' and the zero.
enum { TEXT_VIEW_BYTES = 3 * LCD_COLS * (LCD_ROWS - 1) + ROW1_WORDS_MAX + LCD_ROWS };
// The rows a new screen brought, each of up to 3 bytes a cell, with '\n' between.
enum { SCREEN_TEXT_BYTES = (3 * LCD_COLS + 1) * LCD_ROWS };

struct TextView {
    char text[TEXT_VIEW_BYTES]; // UTF-8, zero-terminated
    int bytes;                  // length of `text` in bytes
    int chars;                  // and in characters
    // Where each line starts, in characters and in bytes; entry 8 is one
    // past the end, as if the last line had its '\n' too.
    int lineChar[LCD_ROWS + 1];
    int lineByte[LCD_ROWS + 1];
    int caret; // where a screen reader's caret stands, in characters
    // What the last take's new screen brought, top to bottom: the rows that
    // changed to a text the screen did not show before, '\n' between them;
    // empty when there was none. Filled by the change reader.
    char screen[SCREEN_TEXT_BYTES];
};

// The character a cell with glyph code `code` reads as: the code itself for
// printable ASCII, the sign of a special symbol, or a space.
uint32_t cell_char(uint8_t code);

// Writes the UTF-8 of `ch` (below 0x10000) to `out`; returns the bytes written.
int utf8_put(uint32_t ch, char *out);

// Reads the cells and the cursor into `view`, the caret at the cursor's cell;
// row 1 as `row1Words` unless null.
void text_view_build(TextView &view, const char *row1Words);

// The character offset of cell (x, y): within row y's line, its end for a
// column past it; rows and columns outside the grid are taken to its edge.
int text_view_offset(const TextView &view, int x, int y);

// The byte offset in `view.text` of character offset `offset` (clamped).
int text_view_byte(const TextView &view, int offset);
