// The main window: class, creation, message routing, placement and tick.
#include "win32/win_main.h"
#include "app/lcd_view.h"
#include "win32/win_copy.h"
#include "app/startup_screen.h"
#include "app/texts.h"
#include "win32/win_access.h"
#include "win32/win_history.h"
#include "win32/win_host.h"
#include "win32/win_keys.h"
#include "win32/win_paint.h"
#include "win32/win_record.h"
#include "win32/win_transcript.h"
#include "win32/win_setup_dlg.h"
#include "lcd/lcd.h"
#include "lcd/status.h"
#include "win32/win_serial.h"
#include "resource.h"

#include <algorithm>

HWND gHwnd;
int32_t gXpos, gYpos;

static const char className[] = "T83displClass";

// "Always on Top": in the topmost band unless the user unchecks it, for this run.
static bool onTop = true;

static COLORREF colorOf(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

bool registerMainClass() {
    WNDCLASSA wc = {};
    wc.style = CS_OWNDC | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.hInstance = ghInstance;
    wc.hIcon = LoadIconA(ghInstance, MAKEINTRESOURCEA(IDI_Q72DISPLAY));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    // Chosen once: a later change of scheme keeps this background in the margins.
    wc.hbrBackground = CreateSolidBrush(colorOf(scheme_for(q72cfg.BlkOnGrn != 0 ? 1 : 0).off));
    wc.lpszClassName = className;
    return RegisterClassA(&wc) != 0;
}

HWND createMainWindow() {
    return CreateWindowExA(0, className, PROGRAM_TITLE, WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, 0,
                           0, CW_USEDEFAULT, CW_USEDEFAULT, NULL, NULL, ghInstance, NULL);
}

// The outer size for the scale: in each direction the table's where it leaves
// room for the whole LCD, else the LCD's and the frame's. The frame is the
// one the system draws at its DPI (the program is aware of the system DPI),
// with a taller caption on a scaled display.
static Size outerSize(HWND hwnd, uint8_t scale) {
    Size table = window_size(scale), lcd = bitmap_size(scale);
    RECT frame = {0, 0, 0, 0};
    AdjustWindowRectEx(&frame, (DWORD)GetWindowLongA(hwnd, GWL_STYLE), FALSE,
                       (DWORD)GetWindowLongA(hwnd, GWL_EXSTYLE));
    return {std::max(table.width, lcd.width + int(frame.right - frame.left)),
            std::max(table.height, lcd.height + int(frame.bottom - frame.top))};
}

void setDisplay(HWND hwnd) {
    if (window_size(q72cfg.scale).width == 0) return;
    Size outer = outerSize(hwnd, q72cfg.scale);
    SetWindowPos(hwnd, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, gXpos, gYpos, outer.width,
                 outer.height, SWP_SHOWWINDOW);
}

// The window menu's own items, after the system's.
static void addMenuItems(HWND hwnd) {
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
    AppendMenuA(menu, MF_STRING, IDM_SYS_SETUP, "Setup...");
    AppendMenuA(menu, MF_STRING, IDM_SYS_COPY, "Copy Screen");
    AppendMenuA(menu, MF_STRING, IDM_SYS_HISTORY, "History...");
    AppendMenuA(menu, MF_STRING | MF_CHECKED, IDM_SYS_ON_TOP, "Always on Top");
}

static void toggleOnTop(HWND hwnd) {
    onTop = !onTop;
    CheckMenuItem(GetSystemMenu(hwnd, FALSE), IDM_SYS_ON_TOP,
                  MF_BYCOMMAND | (onTop ? MF_CHECKED : MF_UNCHECKED));
    SetWindowPos(hwnd, onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// The low four bits of a system command are the system's own.
static bool Main_OnSysCommand(HWND hwnd, WPARAM wParam) {
    switch (wParam & 0xFFF0) {
    case IDM_SYS_SETUP: openSetupDialog(hwnd); return true;
    case IDM_SYS_COPY: copyScreen(hwnd); return true;
    case IDM_SYS_ON_TOP: toggleOnTop(hwnd); return true;
    case IDM_SYS_HISTORY: history_window_open(); return true;
    }
    return false;
}

// The caption tells while the link's device is gone, and so does an open
// setup dialog; the LCD keeps its last picture.
static void Main_OnLinkState(HWND hwnd) {
    SetWindowTextA(hwnd, gLinkState == LINK_LOST ? LINK_LOST_TITLE : PROGRAM_TITLE);
    setupShowLinkState();
    access_link_state(hwnd, (LinkState)gLinkState.load());
}

static void Main_OnInit(HWND hwnd) {
    gXpos = 50;
    gYpos = 50;
    gHwnd = hwnd;
    gQ72open = 0;
    lcd_clear_map();
    curY = 1;
    curX = 1;
    setDisplay(hwnd);
    draw_startup_screen();
    SetTimer(hwnd, TICK_TIMER_ID, TICK_MS, NULL);
    addMenuItems(hwnd);
    link_notify_to(hwnd, WM_LINK_STATE);
    record_failure_to(hwnd, WM_RECORD_FAILED);
    transcript_failure_to(hwnd, WM_TRANSCRIPT_FAILED);
}

// Under the interpreter's lock, so that a status byte the stream sets between
// the countdown and the clearing of the status bits is not lost.
static void Main_OnTimer(HWND hwnd) {
    map_lock();
    bool expired = flash_tick();
    map_unlock();
    if (expired) RedrawWindow(hwnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    access_tell(hwnd); // also a speed held back until a second had passed
    transcript_tick();
    history_window_update();
}

static void Main_OnDestroy(HWND hwnd) {
    runRxThread = 0;
    KillTimer(hwnd, TICK_TIMER_ID);
    transcript_finish();
    access_window_gone(hwnd);
    PostQuitMessage(0);
}

// Every message handled here answers 1; the key messages never reach the
// default procedure, so system keys such as Alt+F4 have no effect.
LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CREATE: Main_OnInit(hwnd); return 1;
    case WM_DESTROY: Main_OnDestroy(hwnd); return 1;
    case WM_PAINT: Main_OnPaint(hwnd); return 1;
    case WM_KEYDOWN: return Main_OnControlDown(hwnd, wParam) != 0;
    case WM_KEYUP: return Main_OnControlUp(hwnd, wParam) != 0;
    case WM_SYSKEYDOWN: Main_OnSysDown(hwnd, wParam); return 1;
    case WM_SYSKEYUP: Main_OnSysUp(hwnd, wParam); return 1;
    case WM_CHAR: return 1;
    case WM_RBUTTONDOWN: openSetupDialog(hwnd); return 1;
    case WM_TIMER: Main_OnTimer(hwnd); return 1;
    case WM_LINK_STATE: Main_OnLinkState(hwnd); return 1;
    case WM_SPEECH_DUE: access_tell(hwnd); return 1;
    case WM_GETOBJECT: return access_get_object(hwnd, wParam, lParam);
    case WM_RECORD_FAILED: record_show_write_failure(hwnd); return 1;
    case WM_TRANSCRIPT_FAILED: transcript_show_write_failure(hwnd); return 1;
    case WM_ENDSESSION: // the session ends: no WM_DESTROY may come
        if (wParam) transcript_finish();
        return 0;
    case WM_SYSCOMMAND:
        if (Main_OnSysCommand(hwnd, wParam)) return 1;
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case CMD_APPLY_SETTINGS: setDisplay(hwnd); return 1;
        case IDM_ABOUT: openSetupDialog(hwnd); return 1;
        }
        break;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}
