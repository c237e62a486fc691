// Resource ids of q72display.exe, shared by the resource script and the code.
#pragma once

#define IDI_Q72DISPLAY 8001 // program icon: one 128 x 128, 256-colour image
#define IDM_MAIN 2001       // "&Help" menu; kept in the resources, not attached to the window
#define IDM_ABOUT 6001      // its one item: opens the setup dialog
