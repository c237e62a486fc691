// The painter the fast one replaced, kept only as the benchmark's baseline:
// one FillRect per LCD pixel into an off-screen bitmap, then one copy.
#pragma once
#include "app/lcd_view.h"

#include <windows.h>

#include <cstdint>

// Fills the zoom x zoom square of LCD pixel (x, y) with brush b.
void drawLCDpixel(HDC h, int x, int y, int zoom, HBRUSH b);

// Same contract as paint_lcd: the whole image into an off-screen bitmap of
// bitmap_size(scale), copied to (0, 0) of `hdc`. Brushes, memory context and
// bitmap are made and released on every call.
void paint_per_pixel(HDC hdc, const LcdImage image, uint8_t scale, int32_t blkOnGrn);
