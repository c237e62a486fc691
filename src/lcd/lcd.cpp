// Text engine: draws glyphs and the cursor mark into the pixel map.
#include "lcd/lcd.h"
#include "lcd/font.h"

#include <cstring>

uint8_t map[LCD_WIDTH][LCD_HEIGHT];
int8_t curX = 1;
int8_t curY = 1;
bool bCursorOn = false;

// The map holds pixels only, so the code drawn in each cell is kept here for
// the read-back that scrolling relies on. A cleared cell reads as a space.
struct CellCodes {
    uint8_t code[LCD_COLS][LCD_ROWS];
};

static constexpr CellCodes blankCells() {
    CellCodes cells{};
    for (auto &column : cells.code)
        for (auto &code : column)
            code = ' ';
    return cells;
}

static CellCodes cells = blankCells();

static bool inGrid(int x, int y) {
    return x >= 1 && x <= LCD_COLS && y >= 1 && y <= LCD_ROWS;
}

void show_char(uint8_t ch) {
    if (!inGrid(curX, curY)) return;
    cells.code[curX - 1][curY - 1] = ch;
    int left = 6 * curX - 4;
    int top = 8 * curY - 8;
    // Codes past the table have no glyph: their cell is drawn blank.
    const uint8_t *glyph = ch < FONT_GLYPHS ? &fontA09[FONT_COLS * ch] : nullptr;
    for (int k = 0; k < FONT_COLS; k++) {
        uint8_t bits = glyph ? glyph[k] : 0;
        uint8_t *column = &map[left + k][top];
        for (int j = 0; j < 8; j++)
            column[j] = (bits >> (7 - j)) & 1;
    }
}

void lcd_drawcursor(uint8_t x, uint8_t y, bool on) {
    // Column 22 has a cursor column (pixel 127) but no glyph area.
    if (x < 1 || x > LCD_COLS + 1 || y < 1 || y > LCD_ROWS) return;
    std::memset(&map[6 * x - 5][8 * y - 8], on ? 0 : 1, 8);
}

// The cursor coordinates are signed bytes; the mark routine takes the byte
// pattern, so a negative position lands outside 1..22 and is not drawn.
static void drawMarkAtCursor(bool on) {
    lcd_drawcursor((uint8_t)curX, (uint8_t)curY, on);
}

void lcd_gotoxy(uint8_t x, uint8_t y) {
    drawMarkAtCursor(true);
    if (y == 0) y = 1;
    curX = (int8_t)x;
    curY = (int8_t)y;
    if (bCursorOn) drawMarkAtCursor(false);
}

void lcd_putc(uint8_t c, uint8_t x, uint8_t y) {
    lcd_gotoxy(x, y);
    show_char(c);
}

uint8_t lcd_getc(uint8_t x, uint8_t y) {
    lcd_gotoxy(x, y);
    return lcd_cell_code(curX, curY);
}

uint8_t lcd_cell_code(int x, int y) {
    return inGrid(x, y) ? cells.code[x - 1][y - 1] : ' ';
}

void lcd_cell_codes(uint8_t out[LCD_ROWS][LCD_COLS]) {
    for (int y = 0; y < LCD_ROWS; y++)
        for (int x = 0; x < LCD_COLS; x++)
            out[y][x] = cells.code[x][y];
}

void lcd_putch(char c) {
    drawMarkAtCursor(true);
    show_char(c == '\\' ? 3 : (uint8_t)c);
    curX = (int8_t)(curX + 1);
}

void lcd_prstr(const char *str) {
    for (; *str; str++) {
        show_char((uint8_t)*str);
        curX = (int8_t)(curX + 1);
    }
}

void lcd_clear_map() {
    std::memset(map, 0, sizeof map);
    cells = blankCells();
}

void lcd_reset() {
    lcd_clear_map();
    curX = 1;
    curY = 1;
    bCursorOn = false;
}

void lcd_clear_all() {
    lcd_clear_map();
    lcd_gotoxy(1, 1);
}

void lcd_clear_row(uint8_t y) {
    lcd_gotoxy(1, y);
    for (int n = 0; n < LCD_COLS; n++)
        lcd_putch(' ');
    lcd_gotoxy(1, y);
}

void lcd_center_text(uint8_t row, const char *str) {
    lcd_clear_row(row);
    uint8_t len = (uint8_t)std::strlen(str);
    int start = (20 - len) / 2 + 1;
    lcd_gotoxy((uint8_t)start, row);
    lcd_prstr(str);
}

void lcd_cursor_mode(uint8_t mode) {
    switch (mode) {
    case 0:
    case 3: bCursorOn = false; break;
    case 1:
    case 2: bCursorOn = true; break;
    default: return;
    }
    drawMarkAtCursor(!bCursorOn);
}

// Scrolling copies cell by cell through the read-back, in an order that
// reads each source row before it is overwritten. Only columns 1..20 move.
void lcd_scroll_up(uint8_t lines) {
    int top = lines == 4 ? 1 : 2;
    for (int r = top; r <= 3; r++)
        for (int n = 1; n <= 20; n++)
            lcd_putc(lcd_getc(n, r + 1), n, r);
    lcd_clear_row(4);
}

void lcd_scroll_down(uint8_t lines) {
    int top = lines == 4 ? 1 : 2;
    for (int r = 4; r >= top + 1; r--)
        for (int n = 1; n <= 20; n++)
            lcd_putc(lcd_getc(n, r - 1), n, r);
    lcd_clear_row(top);
}
