// The setup dialog, opened by a right click and by command 6001.
#pragma once
#include <windows.h>

void openSetupDialog(HWND owner);

// An open setup dialog shows the link's state again (it has changed).
void setupShowLinkState();
