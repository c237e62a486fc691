// Checks that the window's painter and the per-pixel baseline leave the same
// pixels, and the pixels the LCD should show, for every colour scheme, for
// zooms 1..4 and for the out-of-range scales a configuration file can hold.
#pragma once
#include <windows.h>

#include <cstdio>

// Prints every difference found and a summary line to `out`. Returns true
// when there was none.
bool painters_identical(HDC screen, FILE *out);
