// q72bench_watch.exe: tells when another process's window shows a given
// picture. Reads one command per line on standard input:
//
//   wait HWND X Y RRGGBB FILE TIMEOUT_MS
//
// polls the client pixel (X, Y) every millisecond until it has the colour
// RRGGBB (hex), then compares the client area's top-left corner with the
// binary PPM FILE, again until they are equal. Answers "ok MS" (ms from the
// command to the match) or "err REASON" when TIMEOUT_MS pass first. The
// marker pixel keeps the polling cheap while the window is busy: it must be
// one the picture changes last.
#include "bench_clock.h"
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

enum { MAX_WIDTH = 1024, MAX_HEIGHT = 512 };

static uint8_t wanted[MAX_HEIGHT][MAX_WIDTH][3]; // R, G, B
static uint32_t shown[MAX_HEIGHT][MAX_WIDTH];    // 0x00RRGGBB
static int width, height;

static bool readPpm(const char *path) {
    FILE *f = std::fopen(path, "rb");
    if (!f) return false;
    int maxval = 0;
    bool ok = std::fscanf(f, "P6 %d %d %d", &width, &height, &maxval) == 3 && maxval == 255 &&
              width > 0 && height > 0 && width <= MAX_WIDTH && height <= MAX_HEIGHT &&
              std::fgetc(f) != EOF;
    for (int y = 0; ok && y < height; y++)
        ok = std::fread(wanted[y], 3, width, f) == size_t(width);
    std::fclose(f);
    return ok;
}

// Copies the window's client corner through its DC, as the screen shows it.
static bool capture(HWND hwnd) {
    HDC hdc = GetDC(hwnd);
    HDC mem = CreateCompatibleDC(hdc);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP dib = CreateDIBSection(hdc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool ok = dib != NULL;
    if (ok) {
        HGDIOBJ previous = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, width, height, hdc, 0, 0, SRCCOPY);
        GdiFlush();
        for (int y = 0; ok && y < height; y++)
            std::memcpy(shown[y], (uint32_t *)bits + y * width, width * 4);
        SelectObject(mem, previous);
        DeleteObject(dib);
    }
    DeleteDC(mem);
    ReleaseDC(hwnd, hdc);
    return ok;
}

static long differing(int &firstX, int &firstY) {
    long count = 0;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            const uint8_t *w = wanted[y][x];
            uint32_t want = uint32_t(w[0]) << 16 | uint32_t(w[1]) << 8 | w[2];
            if ((shown[y][x] & 0xFFFFFF) != want && count++ == 0) {
                firstX = x;
                firstY = y;
            }
        }
    return count;
}

static void wait(HWND hwnd, int x, int y, COLORREF marker, const char *path, double timeoutMs) {
    double start = nowMs();
    if (!readPpm(path)) {
        std::printf("err cannot read %s\n", path);
        return;
    }
    bool markerShown = false;
    long diff = -1;
    int firstX = 0, firstY = 0;
    while (nowMs() - start < timeoutMs) {
        if (!markerShown) {
            HDC hdc = GetDC(hwnd);
            markerShown = GetPixel(hdc, x, y) == marker;
            ReleaseDC(hwnd, hdc);
        }
        if (markerShown && capture(hwnd) && (diff = differing(firstX, firstY)) == 0) {
            std::printf("ok %.2f\n", nowMs() - start);
            return;
        }
        Sleep(1);
    }
    if (!markerShown)
        std::printf("err the marker pixel never showed\n");
    else
        std::printf("err %ld pixels differ, first at (%d, %d): %06X\n", diff, firstX, firstY,
                    unsigned(shown[firstY][firstX] & 0xFFFFFF));
}

int main() {
    char line[1024];
    while (std::fgets(line, sizeof line, stdin)) {
        unsigned long long hwnd = 0;
        int x = 0, y = 0;
        unsigned rgb = 0;
        char path[800];
        double timeoutMs = 0;
        if (std::sscanf(line, "wait %llu %d %d %x %799s %lf", &hwnd, &x, &y, &rgb, path,
                        &timeoutMs) == 6 &&
            IsWindow((HWND)(UINT_PTR)hwnd))
            wait((HWND)(UINT_PTR)hwnd, x, y, RGB(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF), path,
                 timeoutMs);
        else
            std::printf("err bad command or window: %s", line);
        std::fflush(stdout);
    }
    return 0;
}
