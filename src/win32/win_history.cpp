#include "win32/win_history.h"
#include "app/history.h"
#include "win32/win_history_find.h"
#include "win32/win_history_save.h"
#include "win32/win_host.h"
#include "win32/win_main.h"
#include "resource.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

const wchar_t className[] = L"Q72HistoryClass";
const wchar_t title[] = L"Q72display History";
enum { WIDTH = 520, HEIGHT = 400 };

HWND window, edit;
HACCEL shortcuts;
HFONT font;
// The history lines in the edit, [shownFirst, shownEnd), take its first
// historyChars characters; the rows on screen follow them.
uint64_t shownFirst, shownEnd;
size_t historyChars;
std::string rowsShown; // the rows' texts last shown, without their times

std::wstring widen(const std::string &utf8) {
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring wide((size_t)length, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], length);
    return wide;
}

void append(std::string &out, const HistoryLine &line) {
    char entry[HISTORY_ENTRY_MAX];
    out.append(entry, (size_t)history_entry(line, "\r\n", entry, sizeof entry));
}

// The edit shows its last line: it then follows what enters.
bool atEnd() {
    SCROLLINFO bar = {};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    if (!GetScrollInfo(edit, SB_VERT, &bar) || bar.nPage == 0) return true;
    return bar.nPos + (int)bar.nPage > bar.nMax;
}

// Drops `drop` characters from the top and puts `tail` after the history
// lines, with the user's view and selection where they were, or at the end
// while the view was there.
void replaceTail(size_t drop, const std::wstring &tail) {
    bool follow = atEnd();
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    int top = (int)SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    int droppedLines = drop ? (int)SendMessageW(edit, EM_LINEFROMCHAR, drop, 0) : 0;
    SendMessageW(edit, WM_SETREDRAW, FALSE, 0);
    if (drop) {
        SendMessageW(edit, EM_SETSEL, 0, (LPARAM)drop);
        SendMessageW(edit, EM_REPLACESEL, FALSE, (LPARAM)L"");
        historyChars -= drop;
    }
    SendMessageW(edit, EM_SETSEL, (WPARAM)historyChars, -1);
    SendMessageW(edit, EM_REPLACESEL, FALSE, (LPARAM)tail.c_str());
    start = start > drop ? start - (DWORD)drop : 0;
    end = end > drop ? end - (DWORD)drop : 0;
    SendMessageW(edit, EM_SETSEL, start, end);
    if (follow) {
        SendMessageW(edit, WM_VSCROLL, SB_BOTTOM, 0);
    } else {
        int now = (int)SendMessageW(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
        SendMessageW(edit, EM_LINESCROLL, 0, std::max(top - droppedLines, 0) - now);
    }
    SendMessageW(edit, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(edit, NULL, TRUE);
}

void onCreate(HWND hwnd) {
    edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | ES_MULTILINE |
                               ES_READONLY | ES_AUTOVSCROLL | ES_AUTOHSCROLL | ES_NOHIDESEL,
                           0, 0, 0, 0, hwnd, (HMENU)(INT_PTR)IDC_HISTORY_EDIT, ghInstance, NULL);
    // Fixed pitch: the columns of the LCD's rows stay in line.
    HDC dc = GetDC(hwnd);
    int height = -MulDiv(9, GetDeviceCaps(dc, LOGPIXELSY), 72); // 9 points
    ReleaseDC(hwnd, dc);
    font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       FIXED_PITCH | FF_MODERN, L"Courier New");
    SendMessageW(edit, WM_SETFONT, (WPARAM)font, FALSE);
    // The text starts two characters after the time (4 dialog units each).
    UINT tabStop = (HISTORY_TIME_MAX + 1) * 4;
    SendMessageW(edit, EM_SETTABSTOPS, 1, (LPARAM)&tabStop);
    SendMessageW(edit, EM_SETLIMITTEXT, 0, 0); // as much as the history keeps
    shownFirst = shownEnd = 0;
    historyChars = 0;
    rowsShown = "\n"; // never the rows' texts: the first update shows them
}

void onCommand(HWND hwnd, int id) {
    switch (id) {
    case IDC_HISTORY_SAVE: history_save_as(hwnd, edit); break;
    case IDC_HISTORY_CLOSE: DestroyWindow(hwnd); break;
    case IDC_HISTORY_COPY: SendMessageW(edit, WM_COPY, 0, 0); break;
    case IDC_HISTORY_SELECT_ALL: SendMessageW(edit, EM_SETSEL, 0, -1); break;
    case IDC_HISTORY_FIND: history_find_open(hwnd); break;
    case IDC_HISTORY_FIND_NEXT: history_find_next(hwnd); break;
    }
}

LRESULT CALLBACK historyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (history_find_notified(hwnd, msg, lParam)) return 0;
    switch (msg) {
    case WM_CREATE: onCreate(hwnd); return 0;
    case WM_SIZE: MoveWindow(edit, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE); return 0;
    case WM_SETFOCUS: SetFocus(edit); return 0;
    case WM_COMMAND: onCommand(hwnd, LOWORD(wParam)); return 0;
    case WM_DESTROY:
        if (history_find_dialog()) DestroyWindow(history_find_dialog());
        window = edit = NULL;
        DeleteObject(font);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

void history_window_open() {
    if (window) {
        ShowWindow(window, SW_RESTORE);
        SetForegroundWindow(window);
        return;
    }
    static bool registered;
    if (!registered) {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = historyProc;
        wc.hInstance = ghInstance;
        wc.hIcon = LoadIconA(ghInstance, MAKEINTRESOURCEA(IDI_Q72DISPLAY));
        wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
        wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
        wc.lpszClassName = className;
        registered = RegisterClassW(&wc) != 0;
        shortcuts = LoadAcceleratorsA(ghInstance, MAKEINTRESOURCEA(IDA_HISTORY));
    }
    // Not owned by the LCD's window: it may stand behind it, and the LCD
    // stays on top as the user set it.
    window = CreateWindowExW(
        0, className, title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, WIDTH, HEIGHT, NULL,
        LoadMenuA(ghInstance, MAKEINTRESOURCEA(IDM_HISTORY)), ghInstance, NULL);
    if (!window) return;
    history_window_update();
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
}

bool history_window_message(MSG &msg) {
    if (!window) return false;
    HWND find = history_find_dialog();
    if (find && IsDialogMessageA(find, &msg)) return true;
    return (msg.hwnd == window || IsChild(window, msg.hwnd)) &&
           TranslateAcceleratorA(window, shortcuts, &msg);
}

void history_window_update() {
    if (!window) return;
    std::vector<HistoryLine> lines;
    HistoryLine rows[HISTORY_ROWS];
    uint64_t end = shownEnd;
    map_lock();
    uint64_t first = history_first();
    lines.resize((size_t)(history_end() - std::max(end, first)));
    lines.resize((size_t)history_take(end, lines.data(), (int)lines.size()));
    int count = history_on_screen(rows);
    map_unlock();

    std::string texts;
    for (int k = 0; k < count; k++)
        texts.append(rows[k].text).push_back('\n');
    if (lines.empty() && first <= shownFirst && texts == rowsShown) return;

    // Lines the history no longer keeps leave the top.
    size_t drop = 0;
    if (first > shownFirst) {
        uint64_t gone = std::min(first, shownEnd) - shownFirst;
        drop = gone < shownEnd - shownFirst
                   ? (size_t)SendMessageW(edit, EM_LINEINDEX, (WPARAM)gone, 0)
                   : historyChars;
        shownFirst = first;
    }
    std::string added, onScreen;
    for (const HistoryLine &line : lines)
        append(added, line);
    for (int k = 0; k < count; k++)
        append(onScreen, rows[k]);
    std::wstring wideAdded = widen(added);
    replaceTail(drop, wideAdded + widen(onScreen));
    historyChars += wideAdded.size();
    shownEnd = end;
    rowsShown = texts;
}

HWND history_window_edit() {
    return edit;
}
