// The program-wide handles and the main window.
#pragma once
#include "app/config.h"

#include <windows.h>

#include <cstdint>

enum {
    TICK_TIMER_ID = 1234,
    TICK_MS = 100,
    CMD_APPLY_SETTINGS = 4567, // re-applies position and size after the setup dialog
};

// The main window's own messages, posted from other threads.
enum {
    WM_LINK_STATE = WM_APP + 1, // the link's state has changed
    WM_RECORD_FAILED,           // a write to the record file failed (posted once)
    WM_SPEECH_DUE,              // the change reader has something to tell screen readers
    WM_TRANSCRIPT_FAILED,       // the transcript has ended on a failure (posted once)
};

extern HINSTANCE ghInstance;
extern HWND gHwnd;
extern int32_t gXpos, gYpos;                   // where setDisplay places the window
extern char szModuleFileName[CONFIG_PATH_MAX]; // empty when the path did not fit

static_assert(CONFIG_PATH_MAX >= MAX_PATH, "path buffers hold any MAX_PATH path");

// Registers "T83displClass"; its background follows the colour scheme now in force.
bool registerMainClass();
// Creates the main window "Q72display 1.0"; NULL on failure.
HWND createMainWindow();

LRESULT CALLBACK MainWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// Places, sizes, raises and shows the window for scale 1..4, with room for
// the whole LCD at the system's DPI; any other scale leaves it as it is.
void setDisplay(HWND hwnd);
