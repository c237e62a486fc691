// The LCD model: a 128 x 64 pixel map driven as 21 x 8 text cells.
//
// Cell (n, r), both 1-based, has its cursor column at pixel column 6n - 5
// and its glyph area at pixel columns 6n - 4 .. 6n, pixel rows 8r - 8 .. 8r - 1.
// No operation checks its arguments; whatever falls outside the grid is not
// drawn, so any byte sequence keeps every access inside `map`.
#pragma once
#include <cstdint>

enum {
    LCD_WIDTH = 128, // pixel columns
    LCD_HEIGHT = 64, // pixel rows
    LCD_COLS = 21,   // text columns
    LCD_ROWS = 8,    // text rows
};

// Column-major: map[x][y], 0 = clear, 1 = set.
extern uint8_t map[LCD_WIDTH][LCD_HEIGHT];
extern int8_t curX; // 1..22 in normal use; wraps as a signed byte
extern int8_t curY; // 1..8 in normal use
extern bool bCursorOn;

void show_char(uint8_t ch);
void lcd_drawcursor(uint8_t x, uint8_t y, bool on);
void lcd_gotoxy(uint8_t x, uint8_t y);
void lcd_putc(uint8_t c, uint8_t x, uint8_t y);
uint8_t lcd_getc(uint8_t x, uint8_t y);
// The code last drawn in cell (x, y) of the grid, without moving the cursor;
// a space outside the grid.
uint8_t lcd_cell_code(int x, int y);
// Every cell's code at once, row by row: out[y - 1][x - 1].
void lcd_cell_codes(uint8_t out[LCD_ROWS][LCD_COLS]);
void lcd_putch(char c);
void lcd_prstr(const char *str);
void lcd_clear_all();
void lcd_clear_row(uint8_t y);
void lcd_center_text(uint8_t row, const char *str);
void lcd_cursor_mode(uint8_t mode);
void lcd_scroll_up(uint8_t lines);
void lcd_scroll_down(uint8_t lines);

// Clears every pixel and forgets every cell's code; the cursor stays put.
void lcd_clear_map();

// Back to the program-start state (clear map, hidden cursor at (1, 1)),
// for tests and fuzzers that run many streams in one process.
void lcd_reset();
