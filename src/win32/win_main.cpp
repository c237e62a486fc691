// Entry point: start-up in order, then the message loop.
#include "win32/win_main.h"
#include "win32/win_config.h"
#include "win32/win_host.h"

#include <commctrl.h>

HINSTANCE ghInstance;
char szModuleFileName[CONFIG_PATH_MAX];

// The program's own path; left empty when it does not fit, so that no
// configuration path is formed from a cut-off one.
static void takeModulePath() {
    DWORD length = GetModuleFileNameA(NULL, szModuleFileName, sizeof szModuleFileName);
    if (length == 0 || length >= sizeof szModuleFileName) szModuleFileName[0] = 0;
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nCmdShow) {
    ghInstance = hInstance;
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    takeModulePath();
    config_path_for(szModuleFileName, szConfigName, sizeof szConfigName);
    loadConfigFile(NULL); // before the window exists

    connect_interpreter();
    if (!registerMainClass()) return 1;
    HWND hwnd = createMainWindow();
    if (!hwnd) return 1;
    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);

    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
