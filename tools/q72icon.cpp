// q72icon: writes the program icon, "Q72" in the LCD's own glyphs, black on
// green inside a black frame, as a 128 x 128, 256-colour .ico file.
//
//   q72icon OUT.ico          (the checked-in copy is res/q72display.ico)
#include "lcd/lcd.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

enum {
    SIDE = 128,     // icon width and height
    ZOOM = 6,       // icon pixels per LCD pixel
    FRAME = 4,      // width of the black frame
    TEXT_COLS = 17, // three glyphs and the two gaps between them
    TEXT_ROWS = 8,
    PALETTE = 256,
    AND_STRIDE = SIDE / 8, // one bit per pixel, rows already DWORD-aligned
    IMAGE_BYTES = 40 + 4 * PALETTE + SIDE * SIDE + AND_STRIDE * SIDE,
    FILE_BYTES = 6 + 16 + IMAGE_BYTES,
};

enum : uint8_t { GREEN = 0, BLACK = 1 };

static uint8_t pixels[SIDE][SIDE]; // palette indices, top row first

// Glyph pixels of "Q72" as the LCD draws them in cells 1..3 of row 1.
static void drawText() {
    lcd_reset();
    lcd_gotoxy(1, 1);
    lcd_prstr("Q72");
    int left = (SIDE - TEXT_COLS * ZOOM) / 2, top = (SIDE - TEXT_ROWS * ZOOM) / 2;
    for (int y = 0; y < TEXT_ROWS * ZOOM; y++)
        for (int x = 0; x < TEXT_COLS * ZOOM; x++)
            if (map[2 + x / ZOOM][y / ZOOM]) pixels[top + y][left + x] = BLACK;
}

static void drawFrame() {
    for (int y = 0; y < SIDE; y++)
        for (int x = 0; x < SIDE; x++)
            if (x < FRAME || y < FRAME || x >= SIDE - FRAME || y >= SIDE - FRAME)
                pixels[y][x] = BLACK;
}

static uint8_t *put16(uint8_t *p, unsigned v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
    return p + 2;
}

static uint8_t *put32(uint8_t *p, uint32_t v) {
    p = put16(p, v & 0xFFFF);
    return put16(p, v >> 16);
}

// ICONDIR, one ICONDIRENTRY, then the image: BITMAPINFOHEADER (height doubled
// for the mask), palette, pixels bottom-up, and an all-opaque AND mask.
static void encodeIco(uint8_t *out) {
    std::memset(out, 0, FILE_BYTES);
    uint8_t *p = put16(out, 0);
    p = put16(p, 1); // icon
    p = put16(p, 1); // one image
    *p++ = SIDE;
    *p++ = SIDE;
    *p++ = 0; // 256 colours
    *p++ = 0;
    p = put16(p, 1); // planes
    p = put16(p, 8); // bits per pixel
    p = put32(p, IMAGE_BYTES);
    p = put32(p, 6 + 16);

    p = put32(p, 40);
    p = put32(p, SIDE);
    p = put32(p, 2 * SIDE);
    p = put16(p, 1);
    p = put16(p, 8);
    p = put32(p, 0); // BI_RGB
    p = put32(p, SIDE * SIDE + AND_STRIDE * SIDE);
    p += 16; // resolution and colour counts: 0, all 256 entries present

    static const uint8_t colours[2][4] = {{51, 255, 153, 0}, {0, 0, 0, 0}}; // B, G, R
    std::memcpy(p, colours, sizeof colours);
    p += 4 * PALETTE;
    for (int y = SIDE - 1; y >= 0; y--) {
        std::memcpy(p, pixels[y], SIDE);
        p += SIDE;
    }
}

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: q72icon OUT.ico\n");
        return 2;
    }
    drawText();
    drawFrame();
    static uint8_t ico[FILE_BYTES];
    encodeIco(ico);
    FILE *out = std::fopen(argv[1], "wb");
    bool ok = out && std::fwrite(ico, 1, sizeof ico, out) == sizeof ico;
    ok = (out && std::fclose(out) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "q72icon: cannot write %s\n", argv[1]);
        return 2;
    }
    return 0;
}
