#include "per_pixel_paint.h"

void drawLCDpixel(HDC h, int x, int y, int zoom, HBRUSH b) {
    RECT square = {x * zoom, y * zoom, x * zoom + zoom, y * zoom + zoom};
    FillRect(h, &square, b);
}

void paint_per_pixel(HDC hdc, const LcdImage image, uint8_t scale, int32_t blkOnGrn) {
    HDC mem = CreateCompatibleDC(NULL);
    Scheme scheme = scheme_for(blkOnGrn);
    HBRUSH on = CreateSolidBrush(RGB(scheme.on.r, scheme.on.g, scheme.on.b));
    HBRUSH off = CreateSolidBrush(RGB(scheme.off.r, scheme.off.g, scheme.off.b));
    Size bitmap = bitmap_size(scale);
    HBITMAP bmp = CreateCompatibleBitmap(hdc, bitmap.width, bitmap.height);
    HGDIOBJ previous = SelectObject(mem, bmp);
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            drawLCDpixel(mem, x, y, scale, image[y][x] ? on : off);
    BitBlt(hdc, 0, 0, bitmap.width, bitmap.height, mem, 0, 0, SRCCOPY);
    SelectObject(mem, previous);
    DeleteObject(bmp);
    DeleteObject(on);
    DeleteObject(off);
    DeleteDC(mem);
}
