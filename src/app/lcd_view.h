// How the pixel map looks on screen: colour schemes, zoom and window sizes.
// Shared by the window's painter and the headless renderer.
#pragma once
#include "lcd/lcd.h"

#include <cstdint>

struct Rgb {
    uint8_t r, g, b;
};

struct Scheme {
    Rgb on;  // a set pixel
    Rgb off; // a clear pixel
};

// BlkOnGrn 1 is black on green; every other value paints white on blue.
Scheme scheme_for(int32_t blkOnGrn);

struct Size {
    int width, height;
};

// The off-screen bitmap: 128 x 64 times the scale for 1..4, else 512 x 256.
Size bitmap_size(uint8_t scale);

// The window's outer size for scale 1..4; {0, 0} for any other scale.
Size window_size(uint8_t scale);

// The map as a top-down image, one byte per LCD pixel: 1 set, 0 clear.
typedef uint8_t LcdImage[LCD_HEIGHT][LCD_WIDTH];
void lcd_snapshot(LcdImage out);

// Row y (0 .. 64 * scale - 1) of the picture of `image` at scale 1..4: each
// LCD pixel a scale x scale square in the scheme's colours. Writes
// 3 * 128 * scale bytes, R G B per pixel.
void lcd_scaled_row(const LcdImage image, int scale, const Scheme &scheme, int y, uint8_t *rgb);

// Text row `row` (1..8) as the cells' codes read back: 21 characters and a
// terminating zero. A code outside 32..126 (a special symbol, or a code with
// no glyph) reads as TEXT_STAND_IN.
enum { TEXT_STAND_IN = '#' };
void lcd_text_row(int row, char out[LCD_COLS + 1]);
