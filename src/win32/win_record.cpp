#include "win32/win_record.h"
#include "app/config.h"
#include "win32/win_file_error.h"

#include <cwchar>

static HANDLE recordFile = INVALID_HANDLE_VALUE;
static wchar_t recordPath[CONFIG_PATH_MAX];
static HWND failureWindow;
static UINT failureMessage;

bool record_open(const wchar_t *path) {
    std::wcsncpy(recordPath, path, CONFIG_PATH_MAX - 1);
    recordPath[CONFIG_PATH_MAX - 1] = 0;
    // Append-only access: every write lands at the end, after what an earlier
    // run recorded. Others may read it meanwhile.
    recordFile = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    return recordFile != INVALID_HANDLE_VALUE;
}

void record_failure_to(HWND window, UINT message) {
    failureWindow = window;
    failureMessage = message;
}

// Written straight through to the system with each read, so nothing waits in
// the program: the file is complete up to the last byte read, even if the
// program is killed.
void record_bytes(const uint8_t *bytes, size_t count) {
    if (recordFile == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    if (WriteFile(recordFile, bytes, (DWORD)count, &written, NULL) && written == count) return;
    CloseHandle(recordFile);
    recordFile = INVALID_HANDLE_VALUE;
    if (failureWindow) PostMessageA(failureWindow, failureMessage, 0, 0);
}

void record_show_open_failure(HWND owner) {
    show_file_error(owner, "Cannot open the record file", recordPath);
}

void record_show_write_failure(HWND owner) {
    show_file_error(owner, "Recording stopped: the record file cannot be written", recordPath);
}
