// "Copy Screen": the LCD onto the clipboard as a picture and as text.
#pragma once
#include <windows.h>

// A bitmap at the current scale and scheme, pixel for pixel what q72render
// writes, and the text: 8 lines of 21 characters, each ended by CR LF, with
// '#' for codes outside 32..126. Scales outside 1..4 are copied at 1x. While
// another program holds the clipboard it is tried for about 100 ms; then a
// message box says that the screen could not be copied.
void copyScreen(HWND owner);
