#include "win32/win_copy.h"
#include "app/config.h"
#include "app/lcd_view.h"
#include "win32/win_host.h"

#include <cstring>
#include <utility>

enum {
    LINE_SIZE = LCD_COLS + 2,
    TEXT_SIZE = LCD_ROWS * LINE_SIZE + 1,
    CLIPBOARD_TRIES = 5,     // another program may hold the clipboard for a moment:
    CLIPBOARD_PAUSE_MS = 25, // it is tried again over about 100 ms
};

// A bottom-up 24-bit DIB (the form every reader of CF_DIB takes) of `image`.
static HGLOBAL pictureOf(const LcdImage image, int scale, const Scheme &scheme) {
    int width = LCD_WIDTH * scale, height = LCD_HEIGHT * scale;
    int stride = (width * 3 + 3) & ~3;
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT,
                                 sizeof(BITMAPINFOHEADER) + (SIZE_T)stride * height);
    uint8_t *bytes = memory ? (uint8_t *)GlobalLock(memory) : nullptr;
    if (!bytes) {
        if (memory) GlobalFree(memory);
        return NULL;
    }
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::memcpy(bytes, &header, sizeof header);
    uint8_t *rows = bytes + sizeof header;
    for (int y = 0; y < height; y++) {
        uint8_t *row = rows + (size_t)(height - 1 - y) * stride;
        lcd_scaled_row(image, scale, scheme, y, row);
        for (int x = 0; x < width; x++)
            std::swap(row[3 * x], row[3 * x + 2]); // R G B to the DIB's B G R
    }
    GlobalUnlock(memory);
    return memory;
}

static HGLOBAL textOf(const char text[TEXT_SIZE]) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, TEXT_SIZE);
    char *bytes = memory ? (char *)GlobalLock(memory) : nullptr;
    if (!bytes) {
        if (memory) GlobalFree(memory);
        return NULL;
    }
    std::memcpy(bytes, text, TEXT_SIZE);
    GlobalUnlock(memory);
    return memory;
}

static bool openClipboard(HWND owner) {
    for (int attempt = 1;; attempt++) {
        if (OpenClipboard(owner)) return true;
        if (attempt == CLIPBOARD_TRIES) return false;
        Sleep(CLIPBOARD_PAUSE_MS);
    }
}

// Hands `data` to the clipboard, which then owns it; frees it if refused.
static void put(UINT format, HGLOBAL data) {
    if (data && !SetClipboardData(format, data)) GlobalFree(data);
}

void copyScreen(HWND owner) {
    LcdImage image;
    char text[TEXT_SIZE];
    map_lock();
    lcd_snapshot(image);
    for (int row = 1; row <= LCD_ROWS; row++) {
        char *line = text + (row - 1) * LINE_SIZE;
        lcd_text_row(row, line);
        line[LCD_COLS] = '\r';
        line[LCD_COLS + 1] = '\n';
    }
    map_unlock();
    text[TEXT_SIZE - 1] = 0;

    int scale = q72cfg.scale >= 1 && q72cfg.scale <= 4 ? q72cfg.scale : 1;
    HGLOBAL picture = pictureOf(image, scale, scheme_for(q72cfg.BlkOnGrn));
    HGLOBAL words = textOf(text);
    if (!openClipboard(owner)) {
        if (picture) GlobalFree(picture);
        if (words) GlobalFree(words);
        MessageBoxA(owner, "Could not copy the screen: another program is using the clipboard.",
                    "Error", MB_OK);
        return;
    }
    EmptyClipboard();
    put(CF_DIB, picture);
    put(CF_TEXT, words);
    CloseClipboard();
}
