// The setup dialog (colour scheme, display size, COM port, link) and the port
// dialog it opens.
#include "win32/win_setup_dlg.h"
#include "app/config.h"
#include "app/texts.h"
#include "win32/win_config.h"
#include "win32/win_main.h"
#include "win32/win_ports.h"
#include "win32/win_serial.h"
#include "resource.h"

// The open setup dialog, NULL while there is none.
static HWND setupDialog;

static void showLinkState(HWND hDlg) {
    LinkState state = (LinkState)gLinkState.load();
    SetDlgItemTextA(hDlg, IDC_LINK_STATUS, link_state_text(state));
    SetDlgItemTextA(hDlg, IDC_LINK, link_button_text(state));
}

void setupShowLinkState() {
    if (setupDialog) showLinkState(setupDialog);
}

static void showComPort(HWND hDlg) {
    char sbuf[16];
    if (q72cfg.comPort)
        wsprintfA(sbuf, "Com Port: %d", q72cfg.comPort);
    else
        lstrcpyA(sbuf, "Com Port: ?");
    SetDlgItemTextA(hDlg, IDC_COM_PORT_TEXT, sbuf);
}

static void toggleLink(HWND hDlg) {
    if (gQ72open) {
        closeLink();
        showLinkState(hDlg);
        return;
    }
    int result = openLink(q72cfg.comPort);
    if (result == LINK_OK)
        showLinkState(hDlg);
    else
        SetDlgItemTextA(hDlg, IDC_LINK_STATUS, link_failure_text(result));
}

// Port dialog state: list position k shows port comArray[k].
static int comArray[PORT_NUMBER_MAX];
static int portCount, current, selection;

// The dropped list as wide as its longest entry, so that names fit.
static void widenList(HWND list, const PortEntry *ports, int count) {
    HDC dc = GetDC(list);
    HGDIOBJ previous = SelectObject(dc, (HFONT)SendMessageA(list, WM_GETFONT, 0, 0));
    int widest = 0;
    for (int k = 0; k < count; k++) {
        SIZE extent;
        if (GetTextExtentPoint32A(dc, ports[k].text, lstrlenA(ports[k].text), &extent) &&
            extent.cx > widest)
            widest = extent.cx;
    }
    SelectObject(dc, previous);
    ReleaseDC(list, dc);
    int margins = GetSystemMetrics(SM_CXVSCROLL) + 4 * GetSystemMetrics(SM_CXEDGE);
    SendMessageA(list, CB_SETDROPPEDWIDTH, (WPARAM)(widest + margins), 0);
}

// Lists the ports present, none of them opened.
static void listPorts(HWND hDlg) {
    static PortEntry ports[PORT_NUMBER_MAX];
    selection = -1;
    current = 0;
    portCount = 0;
    int count = list_ports(ports);
    for (int k = 0; k < count; k++) {
        comArray[k] = ports[k].number;
        if (ports[k].number == q72cfg.comPort) selection = current;
        current++;
        portCount++;
        SendDlgItemMessageA(hDlg, IDC_PORT_LIST, CB_ADDSTRING, 0, (LPARAM)ports[k].text);
    }
    SendDlgItemMessageA(hDlg, IDC_PORT_LIST, CB_SETCURSEL, (WPARAM)selection, 0);
    widenList(GetDlgItem(hDlg, IDC_PORT_LIST), ports, count);
}

// "OK": the selected port. With ports listed but none selected (the stored
// port is not present, or text was typed in) the stored port stays.
static void takeSelectedPort(HWND hDlg) {
    if (portCount <= 0) {
        q72cfg.comPort = 0;
        return;
    }
    LRESULT chosen = SendDlgItemMessageA(hDlg, IDC_PORT_LIST, CB_GETCURSEL, 0, 0);
    if (chosen >= 0 && chosen < portCount) q72cfg.comPort = (uint8_t)comArray[chosen];
}

static INT_PTR CALLBACK DlgCommSetup(HWND hDlg, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: listPorts(hDlg); return 1;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            takeSelectedPort(hDlg);
            EndDialog(hDlg, 0);
            return 1;
        case IDCANCEL: EndDialog(hDlg, 0); return 1;
        }
        return 0;
    case WM_CLOSE: EndDialog(hDlg, 0); return 1;
    }
    return 0;
}

// Setup dialog: the settings as they were when it opened, for "Cancel".
static uint8_t curCom;
static int32_t curColor;
static uint8_t curScale;

static void initSetup(HWND hDlg) {
    setupDialog = hDlg;
    RECT rc;
    GetWindowRect(gHwnd, &rc);
    gXpos = rc.left;
    gYpos = rc.top;
    curCom = q72cfg.comPort;
    curColor = q72cfg.BlkOnGrn;
    curScale = q72cfg.scale;
    showLinkState(hDlg);
    showComPort(hDlg);
    for (const char *name : SIZE_NAMES)
        SendDlgItemMessageA(hDlg, IDC_SIZE_LIST, CB_ADDSTRING, 0, (LPARAM)name);
    // Scale 0 selects position -1 and scales above 4 a position past the end:
    // either way nothing is selected.
    SendDlgItemMessageA(hDlg, IDC_SIZE_LIST, CB_SETCURSEL, (WPARAM)(q72cfg.scale - 1), 0);
    int checked = q72cfg.BlkOnGrn ? IDC_BLACK_ON_GREEN : IDC_WHITE_ON_BLUE;
    SendDlgItemMessageA(hDlg, checked, BM_SETCHECK, BST_CHECKED, 0);
}

static void restoreSettings() {
    q72cfg.comPort = curCom;
    q72cfg.BlkOnGrn = curColor;
    q72cfg.scale = curScale;
}

static void acceptSettings(HWND hDlg) {
    q72cfg.BlkOnGrn = SendDlgItemMessageA(hDlg, IDC_BLACK_ON_GREEN, BM_GETCHECK, 0, 0) ? 1 : 0;
    // Text typed into the size list clears its selection: the scale in force stays.
    LRESULT size = SendDlgItemMessageA(hDlg, IDC_SIZE_LIST, CB_GETCURSEL, 0, 0);
    if (size != CB_ERR) q72cfg.scale = (uint8_t)(size + 1);
    // Only an unchanged scheme with the scale 0 before and after is not saved.
    bool unchanged = q72cfg.BlkOnGrn == curColor && curScale == 0 && q72cfg.scale == 0;
    if (!unchanged) {
        saveConfigFile(hDlg);
        SendMessageA(gHwnd, WM_COMMAND, CMD_APPLY_SETTINGS, 0);
    }
    EndDialog(hDlg, 1);
    RedrawWindow(gHwnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
}

// Commands are matched on the whole wParam, so only button clicks count.
// Esc (command 2) is not handled: it leaves the dialog open.
static INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) {
    switch (uMsg) {
    case WM_INITDIALOG: initSetup(hDlg); return 1;
    case WM_COMMAND:
        switch (wParam) {
        case IDC_SET_COM_PORT:
            DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_PORT), hDlg, DlgCommSetup, 0);
            showComPort(hDlg);
            return 1;
        case IDC_LINK: toggleLink(hDlg); return 1;
        case IDC_SETUP_CANCEL:
            restoreSettings();
            EndDialog(hDlg, 1);
            return 1;
        case IDC_DONE: acceptSettings(hDlg); return 1;
        }
        return 0;
    case WM_CLOSE: EndDialog(hDlg, 1); return 1; // a port chosen stays, unsaved
    case WM_DESTROY: setupDialog = NULL; return 0;
    }
    return 0;
}

void openSetupDialog(HWND owner) {
    DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_SETUP), owner, AboutDlgProc, 0);
}
