// "Save As..." in the history window: the lines shown, in the transcript's
// format, to a file chosen in the system's save dialog.
#pragma once
#include <windows.h>

void history_save_as(HWND owner, HWND edit);
