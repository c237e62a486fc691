// The history window's Find: the system's find dialog over the edit control's
// text, selecting what it finds.
#pragma once
#include <windows.h>

// Opens the find dialog for `owner` (or brings it to the front).
void history_find_open(HWND owner);

// "Find Next" without the dialog: the last text looked for, from the selection on.
void history_find_next(HWND owner);

// The dialog's messages; true when `message` was the dialog's notification.
bool history_find_notified(HWND owner, UINT message, LPARAM lParam);

// The modeless dialog, NULL when it is closed (for IsDialogMessage).
HWND history_find_dialog();
