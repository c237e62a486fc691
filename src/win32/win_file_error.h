// A message box about a file the user named on the command line.
#pragma once
#include <windows.h>

// `what` (ASCII), then the file's name on a line of its own. `owner` is NULL
// before the main window exists.
void show_file_error(HWND owner, const char *what, const wchar_t *path);
