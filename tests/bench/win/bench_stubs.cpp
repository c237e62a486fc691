// The window glue linked into the benchmark names the program's main window,
// which the benchmark does not create; it never requests a repaint through it.
#include "win32/win_main.h"

HWND gHwnd;
