// The setup dialog is not there yet: opening it does nothing.
#include "app/win_setup_dlg.h"

void openSetupDialog(HWND) {}
