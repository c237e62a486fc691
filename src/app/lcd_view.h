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
