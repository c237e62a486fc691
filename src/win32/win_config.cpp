#include "win32/win_config.h"
#include "app/config.h"

#include <windows.h>

#include <cstdio>

static void showError(const char *text) {
    MessageBoxA(NULL, text, "Error", MB_OK);
}

int loadConfigFile() {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (szConfigName[0])
        file =
            CreateFileA(szConfigName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        config_set_defaults(q72cfg);
        saveConfigFile();
        return 1;
    }
    uint8_t bytes[CONFIG_FILE_SIZE];
    DWORD count = 0;
    if (!ReadFile(file, bytes, sizeof bytes, &count, NULL)) {
        CloseHandle(file);
        showError("Read config file failed.");
        return 0;
    }
    CloseHandle(file);
    config_overlay(q72cfg, bytes, count);
    return 1;
}

// Whether the file may be replaced: it is missing, or it is neither marked
// read-only nor closed to writing. Windows refuses to replace such a file, but
// Wine renames over it as Linux does, so both are asked first.
static bool replaceable(const char *path) {
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (attributes & FILE_ATTRIBUTE_READONLY) return false;
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

int saveConfigFile() {
    char temp[CONFIG_PATH_MAX];
    if (!szConfigName[0]) return 0;
    int length = std::snprintf(temp, sizeof temp, "%s.tmp", szConfigName);
    if (length < 0 || length >= (int)sizeof temp) return 0;
    HANDLE file =
        CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    uint8_t image[CONFIG_FILE_SIZE];
    config_encode(q72cfg, image);
    DWORD count = 0;
    bool written = WriteFile(file, image, sizeof image, &count, NULL) && count == sizeof image &&
                   FlushFileBuffers(file);
    written = CloseHandle(file) && written;
    if (!written) {
        DeleteFileA(temp);
        showError("Save State Failed.");
        return 0;
    }
    // A read-only or locked file stays as it is.
    if (!replaceable(szConfigName) ||
        !MoveFileExA(temp, szConfigName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp);
        return 0;
    }
    return 1;
}
