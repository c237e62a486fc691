// The LCD for UI Automation clients, and the notifications they speak. Only
// where the system has UiaRaiseNotificationEvent (Windows 10 1709 and later):
// it and the rest of UI Automation are looked up at run time, so that the
// program also starts where they are missing (older Windows, Wine 8), and
// there clients reach the LCD through its MSAA object instead.
#pragma once
#include <windows.h>

// The object id by which UI Automation asks a window for its provider.
enum { UIA_ROOT_OBJECT_ID = -25 };

// Whether the system has notifications, and so the LCD has a provider.
bool uia_available();

// Answers WM_GETOBJECT for UIA_ROOT_OBJECT_ID with the LCD's provider, where
// uia_available(). COM must be initialised on the window thread.
LRESULT uia_get_object(HWND hwnd, WPARAM wParam, LPARAM lParam);

// Tells clients that listen the UTF-8 `text`: new characters in order, or
// (`important`) an announcement. Nothing before a client asked for the LCD.
void uia_notify(const char *text, bool important);

// The window is going: the provider answers that it is gone, and the
// system lets go of it.
void uia_window_gone(HWND hwnd);
