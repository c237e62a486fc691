// q72icon: writes the program icon, "Q72" in the LCD's own glyphs, black on
// green inside a black frame, drawn once at 128 x 128 and resampled to each
// size: as a .ico with the sizes Windows shows (16, 24, 32 and 48 as 32-bit
// bitmaps, 256 as a PNG), or as a PNG of any size for the desktop's icon
// theme and the native window.
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
#include <vector>

enum {
    SIDE = 128,     // the drawing's width and height
    ZOOM = 6,       // drawing pixels per LCD pixel
    FRAME = 4,      // width of the black frame
    TEXT_COLS = 17, // three glyphs and the two gaps between them
    TEXT_ROWS = 8,
    MAX_PNG = 1024, // largest PNG side
};

// The .ico's images, smallest first; from PNG_ICO up they are stored as PNG.
static const int icoSizes[] = {16, 24, 32, 48, 256};
enum { ICO_IMAGES = sizeof icoSizes / sizeof icoSizes[0], PNG_ICO = 256 };

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

// How much of drawing pixel `from` lies under output pixel `to`, with both on a
// grid of SIDE * size units: a drawing pixel is `size` units wide, an output
// pixel SIDE units.
static unsigned overlap(int from, int to, int size) {
    int lo = std::max(from * size, to * SIDE), hi = std::min((from + 1) * size, (to + 1) * SIDE);
    return hi > lo ? hi - lo : 0;
}

// One output row at `size`: each pixel is the area-weighted mean of the drawing
// pixels under it, in integers, so every build writes the same bytes. At 128
// this is the drawing itself, at 256 each drawing pixel doubled.
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

// A row at `size` as R G B A, opaque.
static void resampleRowRgba(int y, uint8_t *rgba, void *side) {
    int size = *(int *)side;
    resampleRow(size, y, rgba);
    for (int x = size - 1; x >= 0; x--) { // backwards: the RGB triples sit in front
        rgba[4 * x + 3] = 255;
        for (int c = 2; c >= 0; c--)
            rgba[4 * x + c] = rgba[3 * x + c];
    }
}

static void put16(std::vector<uint8_t> &out, unsigned v) {
    out.push_back((uint8_t)v);
    out.push_back((uint8_t)(v >> 8));
}

static void put32(std::vector<uint8_t> &out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// BITMAPINFOHEADER (height doubled for the mask), B G R A pixels bottom-up,
// and an all-opaque AND mask.
static std::vector<uint8_t> bitmapImage(int size) {
    int maskStride = (size + 31) / 32 * 4;
    std::vector<uint8_t> out;
    put32(out, 40);
    put32(out, size);
    put32(out, 2 * size);
    put16(out, 1);  // planes
    put16(out, 32); // bits per pixel
    put32(out, 0);  // BI_RGB
    put32(out, 4 * size * size + maskStride * size);
    out.resize(out.size() + 16); // resolution and colour counts: 0
    std::vector<uint8_t> rgba(4 * size);
    for (int y = size - 1; y >= 0; y--) {
        resampleRowRgba(y, rgba.data(), &size);
        for (int x = 0; x < size; x++)
            for (int c : {2, 1, 0, 3})
                out.push_back(rgba[4 * x + c]);
    }
    out.resize(out.size() + maskStride * size);
    return out;
}

// The PNG's bytes, by way of a temporary file; empty when it fails.
static std::vector<uint8_t> pngImage(int size) {
    std::vector<uint8_t> out;
    FILE *f = std::tmpfile();
    if (!f) return out;
    long length = -1;
    if (write_png_rgba(f, size, size, resampleRowRgba, &size) && std::fflush(f) == 0)
        length = std::ftell(f);
    if (length > 0 && std::fseek(f, 0, SEEK_SET) == 0) {
        out.resize(length);
        if (std::fread(out.data(), 1, out.size(), f) != out.size()) out.clear();
    }
    std::fclose(f);
    return out;
}

// ICONDIR, an ICONDIRENTRY per image, then the images.
static bool writeIco(FILE *out) {
    std::vector<uint8_t> images[ICO_IMAGES];
    std::vector<uint8_t> head;
    put16(head, 0);
    put16(head, 1); // icon
    put16(head, ICO_IMAGES);
    uint32_t offset = 6 + 16 * ICO_IMAGES;
    for (int k = 0; k < ICO_IMAGES; k++) {
        int size = icoSizes[k];
        images[k] = size >= PNG_ICO ? pngImage(size) : bitmapImage(size);
        if (images[k].empty()) return false;
        head.push_back((uint8_t)size); // 256 is written as 0
        head.push_back((uint8_t)size);
        head.push_back(0); // no palette
        head.push_back(0);
        put16(head, 1);  // planes
        put16(head, 32); // bits per pixel
        put32(head, images[k].size());
        put32(head, offset);
        offset += images[k].size();
    }
    if (std::fwrite(head.data(), 1, head.size(), out) != head.size()) return false;
    for (const std::vector<uint8_t> &image : images)
        if (std::fwrite(image.data(), 1, image.size(), out) != image.size()) return false;
    return true;
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
