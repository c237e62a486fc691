// The painter: one stretch of a two-colour DIB into an off-screen bitmap, then
// one copy to the window. Integer zoom makes the stretch pixel-exact.
#include "win32/win_paint.h"
#include "app/config.h"
#include "win32/win_host.h"

#include <cstring>

static RGBQUAD quadOf(Rgb c) {
    return {c.b, c.g, c.r, 0};
}

// Only the LCD pixels that reach into the bitmap are stretched, so a large
// zoom never asks for a destination much bigger than the bitmap.
static void stretchImage(HDC mem, const LcdImage image, int zoom, Size bitmap,
                         const Scheme &scheme) {
    int cols = (bitmap.width + zoom - 1) / zoom, rows = (bitmap.height + zoom - 1) / zoom;
    if (cols > LCD_WIDTH) cols = LCD_WIDTH;
    if (rows > LCD_HEIGHT) rows = LCD_HEIGHT;
    int stride = (cols + 3) & ~3; // DIB rows are DWORD-aligned
    uint8_t bits[LCD_HEIGHT * LCD_WIDTH];
    for (int y = 0; y < rows; y++)
        std::memcpy(bits + y * stride, image[y], stride);

    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colors[2];
    } dib = {};
    dib.header.biSize = sizeof dib.header;
    dib.header.biWidth = cols;
    dib.header.biHeight = -rows; // top-down, like the image
    dib.header.biPlanes = 1;
    dib.header.biBitCount = 8;
    dib.header.biCompression = BI_RGB;
    dib.header.biClrUsed = 2;
    dib.colors[0] = quadOf(scheme.off);
    dib.colors[1] = quadOf(scheme.on);
    SetStretchBltMode(mem, COLORONCOLOR);
    StretchDIBits(mem, 0, 0, cols * zoom, rows * zoom, 0, 0, cols, rows, bits,
                  (const BITMAPINFO *)&dib, DIB_RGB_COLORS, SRCCOPY);
}

// The off-screen bitmap and its memory context are kept from one paint to the
// next and made again only when the size changes: making them costs several
// times more than drawing into them and copying them out. They live as long as
// the program.
static HDC offDC;
static HBITMAP offBitmap;
static Size offSize;

static HDC offscreen(HDC hdc, Size size) {
    if (offBitmap && offSize.width == size.width && offSize.height == size.height) return offDC;
    if (!offDC) offDC = CreateCompatibleDC(NULL);
    HBITMAP fresh = offDC ? CreateCompatibleBitmap(hdc, size.width, size.height) : NULL;
    if (!fresh) return NULL;
    SelectObject(offDC, fresh);
    if (offBitmap) DeleteObject(offBitmap);
    offBitmap = fresh;
    offSize = size;
    return offDC;
}

void paint_lcd(HDC hdc, const LcdImage image, uint8_t scale, int32_t blkOnGrn) {
    Size bitmap = bitmap_size(scale);
    Scheme scheme = scheme_for(blkOnGrn);
    HDC mem = offscreen(hdc, bitmap);
    if (!mem) return;
    if (scale == 0) {
        HBRUSH off = CreateSolidBrush(RGB(scheme.off.r, scheme.off.g, scheme.off.b));
        RECT all = {0, 0, bitmap.width, bitmap.height};
        FillRect(mem, &all, off);
        DeleteObject(off);
    } else {
        stretchImage(mem, image, scale, bitmap, scheme);
    }
    BitBlt(hdc, 0, 0, bitmap.width, bitmap.height, mem, 0, 0, SRCCOPY);
}

void Main_OnPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    SetMapMode(hdc, MM_TEXT);
    // Wine may send a second WM_PAINT with nothing left to paint.
    if (!IsRectEmpty(&ps.rcPaint)) {
        LcdImage image;
        map_lock();
        lcd_snapshot(image);
        map_unlock();
        paint_lcd(hdc, image, q72cfg.scale, q72cfg.BlkOnGrn);
    }
    EndPaint(hwnd, &ps);
}
