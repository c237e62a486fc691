// The setup dialog, opened by a right click and by command 6001.
#pragma once
#include <windows.h>

void openSetupDialog(HWND owner);
