// Painting the pixel map as an LCD.
#pragma once
#include "app/lcd_view.h"

#include <windows.h>

#include <cstdint>

// WM_PAINT: the whole map, whatever the invalid region.
void Main_OnPaint(HWND hwnd);

// Draws `image` into an off-screen bitmap of bitmap_size(scale), each LCD
// pixel a scale x scale square (clipped to the bitmap), and copies it to (0, 0)
// of `hdc`. Scale 0 gives the bitmap in the dark-pixel colour only. The
// off-screen bitmap is kept for the next call of the same size. Window thread only.
void paint_lcd(HDC hdc, const LcdImage image, uint8_t scale, int32_t blkOnGrn);
