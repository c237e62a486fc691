#include "app/lcd_view.h"

Scheme scheme_for(int32_t blkOnGrn) {
    if (blkOnGrn == 1) return {{0, 0, 0}, {153, 255, 51}};
    return {{255, 255, 255}, {20, 20, 140}};
}

Size bitmap_size(uint8_t scale) {
    if (scale >= 1 && scale <= 4) return {LCD_WIDTH * scale, LCD_HEIGHT * scale};
    return {LCD_WIDTH * 4, LCD_HEIGHT * 4};
}

Size window_size(uint8_t scale) {
    static const Size outer[4] = {{150, 110}, {280, 170}, {400, 235}, {532, 302}};
    if (scale >= 1 && scale <= 4) return outer[scale - 1];
    return {0, 0};
}

void lcd_snapshot(LcdImage out) {
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            out[y][x] = map[x][y] != 0;
}

void lcd_scaled_row(const LcdImage image, int scale, const Scheme &scheme, int y, uint8_t *rgb) {
    const uint8_t *pixels = image[y / scale];
    for (int x = 0; x < LCD_WIDTH * scale; x++, rgb += 3) {
        const Rgb &c = pixels[x / scale] ? scheme.on : scheme.off;
        rgb[0] = c.r;
        rgb[1] = c.g;
        rgb[2] = c.b;
    }
}

// '#' has no Morse code, so in a copy of the modem's screen it never stands
// for a character the modem sent.
void lcd_text_row(int row, char out[LCD_COLS + 1]) {
    for (int n = 1; n <= LCD_COLS; n++) {
        uint8_t code = lcd_cell_code(n, row);
        out[n - 1] = code >= 32 && code <= 126 ? (char)code : (char)TEXT_STAND_IN;
    }
    out[LCD_COLS] = 0;
}
