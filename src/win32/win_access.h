// What screen readers get from the main window: the LCD as one accessible
// object (MSAA) whose value is the screen as text, and events for what the
// modem changed, spoken once each. Everything here runs on the window thread
// except access_speech_due.
#pragma once
#include "link/link_status.h"

#include <windows.h>

// Answers WM_GETOBJECT: the LCD for OBJID_CLIENT, the UI Automation provider
// where the system has notifications, the default for anything else.
LRESULT access_get_object(HWND hwnd, WPARAM wParam, LPARAM lParam);

// The LCD's text as screen readers read it: the 8 rows joined by CRLF, in
// UTF-16; valid until the next call.
const wchar_t *access_lcd_text(int &length);

// Any thread: asks the window thread to tell what changed (at most one
// request waits at a time).
void access_speech_due();

// Takes what the change reader heard and tells it: a value change for the
// new text, a live-region change (and a UI Automation notification) for
// what is to be spoken.
void access_tell(HWND hwnd);

// The link is now in `state`: announced when it differs from the last one told.
void access_link_state(HWND hwnd, LinkState state);

// The window is going: the objects handed out answer that they are gone.
void access_window_gone(HWND hwnd);
