// q72icon: writes the program icon, "Q72" in the LCD's own glyphs, black on
// green inside a black frame: as a 128 x 128, 256-colour .ico file, or as a
// PNG of any size for the desktop's icon theme and the native window.
//
//   q72icon OUT.ico                (the checked-in copy is res/q72display.ico)
//   q72icon --png SIZE OUT.png     (the build writes the sizes it installs)
#include "lcd/lcd.h"

#include "png_out.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
    MAX_PNG = 1024, // largest PNG side
};

enum : uint8_t { GREEN = 0, BLACK = 1 };

static const uint8_t colours[2][3] = {{153, 255, 51}, {0, 0, 0}}; // R, G, B

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

    for (const uint8_t *rgb : colours) { // stored B, G, R, 0
        p[0] = rgb[2];
        p[1] = rgb[1];
        p[2] = rgb[0];
        p += 4;
    }
    p += 4 * (PALETTE - 2);
    for (int y = SIDE - 1; y >= 0; y--) {
        std::memcpy(p, pixels[y], SIDE);
        p += SIDE;
    }
}

static bool writeIco(FILE *out) {
    static uint8_t ico[FILE_BYTES];
    encodeIco(ico);
    return std::fwrite(ico, 1, sizeof ico, out) == sizeof ico;
}

// How much of icon pixel `from` lies under output pixel `to`, with both on a
// grid of SIDE * size units: an icon pixel is `size` units wide, an output
// pixel SIDE units.
static unsigned overlap(int from, int to, int size) {
    int lo = std::max(from * size, to * SIDE), hi = std::min((from + 1) * size, (to + 1) * SIDE);
    return hi > lo ? hi - lo : 0;
}

// One output row at `size`: each pixel is the area-weighted mean of the icon
// pixels under it, in integers, so every build writes the same bytes. At 128
// this is the icon itself, at 256 each icon pixel doubled.
static void resampleRow(int size, int y, uint8_t *rgb) {
    for (int x = 0; x < size; x++) {
        unsigned sum[3] = {};
        for (int j = y * SIDE / size; j * size < (y + 1) * SIDE; j++)
            for (int i = x * SIDE / size; i * size < (x + 1) * SIDE; i++) {
                unsigned weight = overlap(j, y, size) * overlap(i, x, size);
                for (int c = 0; c < 3; c++)
                    sum[c] += weight * colours[pixels[j][i]][c];
            }
        for (int c = 0; c < 3; c++)
            rgb[3 * x + c] = (uint8_t)((sum[c] + SIDE * SIDE / 2) / (SIDE * SIDE));
    }
}

static bool writePng(FILE *out, int size) {
    return write_png(
        out, size, size, [](int y, uint8_t *rgb, void *side) { resampleRow(*(int *)side, y, rgb); },
        &size);
}

[[noreturn]] static void usage() {
    std::fprintf(stderr,
                 "usage: q72icon OUT.ico\n"
                 "       q72icon --png SIZE OUT.png   (SIZE 1 to %d)\n",
                 MAX_PNG);
    std::exit(2);
}

int main(int argc, char **argv) {
    int size = 0; // 0: the .ico
    if (argc == 4 && std::strcmp(argv[1], "--png") == 0) {
        char *end;
        long n = std::strtol(argv[2], &end, 10);
        if (*end || n < 1 || n > MAX_PNG) usage();
        size = (int)n;
    } else if (argc != 2 || argv[1][0] == '-') {
        usage();
    }
    const char *path = argv[argc - 1];
    drawText();
    drawFrame();
    FILE *out = std::fopen(path, "wb");
    bool ok = out && (size ? writePng(out, size) : writeIco(out)) && !std::ferror(out);
    ok = (out && std::fclose(out) == 0) && ok;
    if (!ok) {
        std::fprintf(stderr, "q72icon: cannot write %s\n", path);
        if (out) std::remove(path);
        return 2;
    }
    return 0;
}
