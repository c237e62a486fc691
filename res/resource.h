// Resource ids of q72display.exe, shared by the resource script and the code.
#pragma once

#define IDI_Q72DISPLAY 8001 // program icon: one 128 x 128, 256-colour image
#define IDM_MAIN 2001       // "&Help" menu; kept in the resources, not attached to the window
#define IDM_ABOUT 6001      // its one item: opens the setup dialog

// Items added to the window menu. WM_SYSCOMMAND keeps the low four bits of
// its command for the system, so these are multiples of 16 (below 0xF000).
#define IDM_SYS_SETUP 0x0010  // "Setup...": opens the setup dialog
#define IDM_SYS_COPY 0x0020   // "Copy Screen"
#define IDM_SYS_ON_TOP 0x0030 // "Always on Top", checked at start
#define IDM_SYS_HISTORY 0x0040 // "History...": opens the history window

// History window "Q72display History": its menu bar, shortcuts and edit control
#define IDM_HISTORY 2002
#define IDA_HISTORY 2003
#define IDC_HISTORY_EDIT 4101
#define IDC_HISTORY_SAVE 4102 // "Save As..."
#define IDC_HISTORY_CLOSE 4103
#define IDC_HISTORY_COPY 4104
#define IDC_HISTORY_SELECT_ALL 4105
#define IDC_HISTORY_FIND 4106
#define IDC_HISTORY_FIND_NEXT 4107

// Setup dialog "Q72display 1.0 Setup"
#define IDD_SETUP 1001
#define IDC_BLACK_ON_GREEN 4002 // colour scheme radio buttons
#define IDC_WHITE_ON_BLUE 4003
#define IDC_SCHEME_FRAME 4004
#define IDC_SET_COM_PORT 4005 // opens the port dialog
#define IDC_LINK 4006         // "Open I/F" / "Close I/F"
#define IDC_SETUP_CANCEL 4007
#define IDC_SIZE_LIST 4008 // "1X".."4X"
#define IDC_SIZE_LABEL 4009
#define IDC_COM_PORT_TEXT 4010 // "Com Port: N"
#define IDC_DONE 4011
#define IDC_LINK_STATUS 4012 // "Q72 Linked", "Q72 I/F Closed", failures

// Port dialog "Select Com Port"; its buttons are IDOK and IDCANCEL
#define IDD_PORT 1002
#define IDC_PORT_LIST 4001 // one entry per port present: "comN", then its name if it has one
