// q72bench_paint.exe: the window's painter against the per-pixel baseline,
// in one process under one display.
//
//   q72bench_paint.exe [RUNS [PAINTS]]
//
// 1. Identity: both painters at every scheme and at scales 0..9, 16, 100 and
//    255 onto a screen-compatible memory bitmap, read back with GetDIBits
//    and compared with each other and with the expected LCD pixels. Any
//    difference is printed and the exit status is 1.
// 2. "paint" lines: ms per paint_lcd / paint_per_pixel call into the DC of a
//    visible window (CS_OWNDC, as the program's), at scales 1..4.
// 3. "redraw" lines: ms per RedrawWindow(RDW_INVALIDATE | RDW_UPDATENOW)
//    issued from a second thread, as the receive thread does, with the
//    window's WM_PAINT served by the program's Main_OnPaint or by the same
//    handler around the per-pixel painter; paints counts WM_PAINTs per call.
// Each figure is the median of RUNS runs of PAINTS calls (default 7 x 100),
// the two painters' runs interleaved; lo and hi are the fastest and slowest run.
#include "app/config.h"
#include "app/lcd_view.h"
#include "win32/win_host.h"
#include "win32/win_paint.h"
#include "lcd/lcd.h"
#include "paint_identity.h"
#include "per_pixel_paint.h"
#include "test_images.h"
#include "bench_clock.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

enum { MAX_RUNS = 99, WM_SET_SCALE = WM_APP };

typedef void (*Painter)(HDC, const LcdImage, uint8_t, int32_t);

struct Figure {
    double median, lo, hi;
};

static int runs = 7, paints = 100;
static std::atomic<bool> perPixelPainting;
static std::atomic<long> paintCount;

static Figure figureOf(double *samples, int count) {
    std::sort(samples, samples + count);
    return {samples[count / 2], samples[0], samples[count - 1]};
}

static void printLine(const char *kind, int scale, Figure fast, Figure perPixel,
                      const char *extra = "") {
    std::printf("%s scale=%d fast=%.4f fast_lo=%.4f fast_hi=%.4f per_pixel=%.4f "
                "per_pixel_lo=%.4f per_pixel_hi=%.4f ratio=%.1f%s\n",
                kind, scale, fast.median, fast.lo, fast.hi, perPixel.median, perPixel.lo,
                perPixel.hi, perPixel.median / fast.median, extra);
    std::fflush(stdout);
}

// WM_PAINT as the program handles it, around the per-pixel painter.
static void perPixelOnPaint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    SetMapMode(hdc, MM_TEXT);
    LcdImage image;
    map_lock();
    lcd_snapshot(image);
    map_unlock();
    paint_per_pixel(hdc, image, q72cfg.scale, q72cfg.BlkOnGrn);
    EndPaint(hwnd, &ps);
}

static void applyScale(HWND hwnd, uint8_t scale) {
    q72cfg.scale = scale;
    Size outer = window_size(scale);
    SetWindowPos(hwnd, NULL, 50, 50, outer.width, outer.height, SWP_NOZORDER);
}

static LRESULT CALLBACK benchWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        paintCount++;
        if (perPixelPainting)
            perPixelOnPaint(hwnd);
        else
            Main_OnPaint(hwnd);
        return 0;
    case WM_SET_SCALE: applyScale(hwnd, uint8_t(wParam)); return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A window like the program's: own DC, fixed frame, the scheme's background.
static HWND createBenchWindow() {
    WNDCLASSA wc = {};
    wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = benchWndProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = CreateSolidBrush(RGB(153, 255, 51));
    wc.lpszClassName = "Q72BenchPaint";
    if (!RegisterClassA(&wc)) return NULL;
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "q72bench_paint",
                                WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 50, 50, 532, 302, NULL,
                                NULL, wc.hInstance, NULL);
    if (hwnd) ShowWindow(hwnd, SW_SHOWNORMAL);
    return hwnd;
}

static void pumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

static double msPerPaint(Painter painter, HDC hdc, const LcdImage image, uint8_t scale) {
    double start = nowMs();
    for (int k = 0; k < paints; k++)
        painter(hdc, image, scale, 1);
    return (nowMs() - start) / paints;
}

// Direct calls into the window's own DC; messages are served between runs,
// so the window's surface reaches the display outside the timed loops.
static void benchDirectPaints(HWND hwnd, const LcdImage image) {
    HDC hdc = GetDC(hwnd);
    for (uint8_t scale = 1; scale <= 4; scale++) {
        applyScale(hwnd, scale);
        double fast[MAX_RUNS], perPixel[MAX_RUNS];
        for (int run = 0; run < runs; run++) {
            pumpMessages();
            fast[run] = msPerPaint(paint_lcd, hdc, image, scale);
            pumpMessages();
            perPixel[run] = msPerPaint(paint_per_pixel, hdc, image, scale);
        }
        printLine("paint", scale, figureOf(fast, runs), figureOf(perPixel, runs));
    }
    ReleaseDC(hwnd, hdc);
}

static double msPerRedraw(HWND hwnd, bool perPixel, long &paintsDone) {
    perPixelPainting = perPixel;
    long before = paintCount;
    double start = nowMs();
    for (int k = 0; k < paints; k++)
        RedrawWindow(hwnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    double ms = (nowMs() - start) / paints;
    paintsDone += paintCount - before;
    return ms;
}

// The receive thread's side: repaint requests that return once painted.
static DWORD WINAPI redrawThread(LPVOID param) {
    HWND hwnd = (HWND)param;
    for (uint8_t scale = 1; scale <= 4; scale++) {
        SendMessageA(hwnd, WM_SET_SCALE, scale, 0);
        double fast[MAX_RUNS], perPixel[MAX_RUNS];
        long fastPaints = 0, perPixelPaints = 0;
        for (int run = 0; run < runs; run++) {
            fast[run] = msPerRedraw(hwnd, false, fastPaints);
            perPixel[run] = msPerRedraw(hwnd, true, perPixelPaints);
        }
        char extra[80];
        std::snprintf(extra, sizeof extra, " fast_paints=%.2f per_pixel_paints=%.2f",
                      double(fastPaints) / (runs * paints),
                      double(perPixelPaints) / (runs * paints));
        printLine("redraw", scale, figureOf(fast, runs), figureOf(perPixel, runs), extra);
    }
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
    return 0;
}

int main(int argc, char **argv) {
    if (argc > 1) runs = std::atoi(argv[1]);
    if (argc > 2) paints = std::atoi(argv[2]);
    if (runs < 1 || runs > MAX_RUNS || paints < 1) {
        std::fprintf(stderr, "usage: q72bench_paint [RUNS (1..%d) [PAINTS]]\n", MAX_RUNS);
        return 2;
    }
    HDC screen = GetDC(NULL);
    bool identical = painters_identical(screen, stdout);
    ReleaseDC(NULL, screen);
    if (!identical) return 1;

    HWND hwnd = createBenchWindow();
    if (!hwnd) {
        std::fprintf(stderr, "q72bench_paint: no window (is DISPLAY set?)\n");
        return 2;
    }
    static TestImage images[TEST_IMAGE_COUNT];
    make_test_images(images);
    const LcdImage &random = images[0].pixels;
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            map[x][y] = random[y][x];
    q72cfg.BlkOnGrn = 1;
    pumpMessages();
    std::printf("setup runs=%d paints=%d image=random target=window_dc\n", runs, paints);
    benchDirectPaints(hwnd, random);

    HANDLE thread = CreateThread(NULL, 0, redrawThread, hwnd, 0, NULL);
    if (!thread) return 2;
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return 0;
}
