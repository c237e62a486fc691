// Entry point: start-up in order, then the message loop.
#include "win32/win_main.h"
#include "win32/win_cmdline.h"
#include "win32/win_config.h"
#include "win32/win_host.h"
#include "win32/win_record.h"
#include "win32/win_serial.h"

#include <commctrl.h>

HINSTANCE ghInstance;
char szModuleFileName[CONFIG_PATH_MAX];

// The program's own path; left empty when it does not fit, so that no
// configuration path is formed from a cut-off one.
static void takeModulePath() {
    DWORD length = GetModuleFileNameA(NULL, szModuleFileName, sizeof szModuleFileName);
    if (length == 0 || length >= sizeof szModuleFileName) szModuleFileName[0] = 0;
}

// A record file that cannot be opened is named in a message box; the
// program then runs without recording.
static void startRecording(const wchar_t *path) {
    if (path[0] && !record_open(path)) record_show_open_failure(NULL);
}

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, PWSTR, int nCmdShow) {
    ghInstance = hInstance;
    // Before anything is read or written: a refused command line leaves the
    // configuration file untouched.
    static CommandLine line;
    if (!read_command_line(line)) {
        show_usage(line);
        return 2;
    }
    if (line.version) {
        show_version();
        return 0;
    }
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    takeModulePath();
    config_path_for(szModuleFileName, szConfigName, sizeof szConfigName);
    loadConfigFile(NULL);                      // before the window exists
    if (line.port) q72cfg.comPort = line.port; // this run only, unless "Done" saves it
    startRecording(line.record);

    connect_interpreter();
    if (!registerMainClass()) return 1;
    HWND hwnd = createMainWindow();
    if (!hwnd) return 1;
    ShowWindow(hwnd, nCmdShow);
    UpdateWindow(hwnd);
    if (line.open) openLinkRetrying(q72cfg.comPort);

    MSG msg = {};
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return (int)msg.wParam;
}
