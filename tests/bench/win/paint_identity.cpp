#include "paint_identity.h"
#include "win32/win_paint.h"
#include "per_pixel_paint.h"
#include "test_images.h"

#include <cstdint>

typedef void (*Painter)(HDC, const LcdImage, uint8_t, int32_t);

// The painters draw into a canvas larger than any bitmap they make, filled
// with a colour neither scheme uses, so a pixel drawn outside shows up.
enum { CANVAS_WIDTH = 520, CANVAS_HEIGHT = 264 };
static const Rgb OUTSIDE = {255, 0, 255};
// The per-pixel painter draws nothing at scale 0, so its new bitmap shows.
static const Rgb FRESH_BITMAP = {0, 0, 0};

static const uint8_t scales[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 100, 255};
static const int32_t schemes[] = {1, 0, 2};

typedef uint32_t Canvas[CANVAS_HEIGHT][CANVAS_WIDTH]; // 0x00RRGGBB
static Canvas byWindowPainter, byPerPixel, expected;

static uint32_t pixelOf(Rgb c) {
    return uint32_t(c.r) << 16 | uint32_t(c.g) << 8 | c.b;
}

// Paints onto a screen-compatible canvas and reads it back with GetDIBits.
static bool paintOnCanvas(HDC screen, Painter painter, const LcdImage image, uint8_t scale,
                          int32_t blkOnGrn, Canvas out) {
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP canvas = CreateCompatibleBitmap(screen, CANVAS_WIDTH, CANVAS_HEIGHT);
    HGDIOBJ previous = SelectObject(mem, canvas);
    HBRUSH outside = CreateSolidBrush(RGB(OUTSIDE.r, OUTSIDE.g, OUTSIDE.b));
    RECT all = {0, 0, CANVAS_WIDTH, CANVAS_HEIGHT};
    FillRect(mem, &all, outside);
    DeleteObject(outside);
    painter(mem, image, scale, blkOnGrn);
    SelectObject(mem, previous);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = CANVAS_WIDTH;
    info.bmiHeader.biHeight = -CANVAS_HEIGHT; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    int rows = GetDIBits(mem, canvas, 0, CANVAS_HEIGHT, out, &info, DIB_RGB_COLORS);
    DeleteObject(canvas);
    DeleteDC(mem);
    for (int y = 0; y < CANVAS_HEIGHT; y++)
        for (int x = 0; x < CANVAS_WIDTH; x++)
            out[y][x] &= 0xFFFFFF;
    return rows == CANVAS_HEIGHT;
}

// Each LCD pixel a scale x scale square, clipped to the bitmap; at scale 0
// the bitmap is all `scale0`.
static void expectCanvas(const LcdImage image, uint8_t scale, int32_t blkOnGrn, Rgb scale0) {
    Size bitmap = bitmap_size(scale);
    Scheme scheme = scheme_for(blkOnGrn);
    for (int y = 0; y < CANVAS_HEIGHT; y++)
        for (int x = 0; x < CANVAS_WIDTH; x++) {
            Rgb c = OUTSIDE;
            if (x < bitmap.width && y < bitmap.height)
                c = scale == 0 ? scale0 : image[y / scale][x / scale] ? scheme.on : scheme.off;
            expected[y][x] = pixelOf(c);
        }
}

// Reports the first differing pixel and how many differ; true when none does.
static bool same(const Canvas got, const Canvas want, FILE *out, const char *what,
                 const char *image, uint8_t scale, int32_t blkOnGrn) {
    long differing = 0;
    int firstX = 0, firstY = 0;
    for (int y = 0; y < CANVAS_HEIGHT; y++)
        for (int x = 0; x < CANVAS_WIDTH; x++)
            if (got[y][x] != want[y][x] && differing++ == 0) {
                firstX = x;
                firstY = y;
            }
    if (differing)
        std::fprintf(out,
                     "DIFFERENT: %s, image '%s', scale %u, BlkOnGrn %d: %ld pixels, first at "
                     "(%d, %d): %06X instead of %06X\n",
                     what, image, scale, blkOnGrn, differing, firstX, firstY, got[firstY][firstX],
                     want[firstY][firstX]);
    return differing == 0;
}

bool painters_identical(HDC screen, FILE *out) {
    static TestImage images[TEST_IMAGE_COUNT];
    make_test_images(images);
    bool ok = true;
    int cases = 0;
    for (int32_t blkOnGrn : schemes)
        for (uint8_t scale : scales)
            for (const TestImage &image : images) {
                cases++;
                if (!paintOnCanvas(screen, paint_lcd, image.pixels, scale, blkOnGrn,
                                   byWindowPainter) ||
                    !paintOnCanvas(screen, paint_per_pixel, image.pixels, scale, blkOnGrn,
                                   byPerPixel)) {
                    std::fprintf(out, "DIFFERENT: GetDIBits failed\n");
                    return false;
                }
                Scheme scheme = scheme_for(blkOnGrn);
                expectCanvas(image.pixels, scale, blkOnGrn, scheme.off);
                ok &= same(byWindowPainter, expected, out, "window painter vs expected", image.name,
                           scale, blkOnGrn);
                if (scale != 0)
                    ok &= same(byWindowPainter, byPerPixel, out, "window painter vs per-pixel",
                               image.name, scale, blkOnGrn);
                expectCanvas(image.pixels, scale, blkOnGrn, FRESH_BITMAP);
                ok &= same(byPerPixel, expected, out, "per-pixel vs expected", image.name, scale,
                           blkOnGrn);
            }
    std::fprintf(out,
                 "identity %s: %d cases (%zu schemes x %zu scales x %d images), both painters "
                 "read back with GetDIBits\n",
                 ok ? "ok" : "FAILED", cases, sizeof schemes / sizeof *schemes,
                 sizeof scales / sizeof *scales, TEST_IMAGE_COUNT);
    return ok;
}
