// Glyph set of the LCD: 128 glyphs of 5 x 8 pixels.
#pragma once
#include <cstdint>

enum { FONT_GLYPHS = 128, FONT_COLS = 5 };

extern const uint8_t fontA09[FONT_GLYPHS * FONT_COLS];
