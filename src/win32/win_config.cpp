#include "win32/win_config.h"
#include "app/config.h"

#include <windows.h>

#include <cstdio>

static void showError(HWND owner, const char *text) {
    MessageBoxA(owner, text, "Error", MB_OK);
}

int loadConfigFile(HWND owner) {
    HANDLE file = INVALID_HANDLE_VALUE;
    if (szConfigName[0])
        file =
            CreateFileA(szConfigName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        config_set_defaults(q72cfg);
        saveConfigFile(owner);
        return 1;
    }
    uint8_t bytes[CONFIG_FILE_SIZE];
    DWORD count = 0;
    if (!ReadFile(file, bytes, sizeof bytes, &count, NULL)) {
        CloseHandle(file);
        showError(owner, "Read config file failed.");
        return 0;
    }
    CloseHandle(file);
    config_overlay(q72cfg, bytes, count);
    return 1;
}

// Whether the file may be written: it is missing, or it is neither marked
// read-only nor closed to writing (by its rights, or by a program that holds
// it open and shares nothing). Windows refuses to replace a read-only file,
// but Wine renames over it as Linux does, so both are asked first.
static bool writable(const char *path) {
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

// Creates `path` and writes the record's image into it. `created` tells
// whether it could be created; the result, whether all of it was written.
static bool writeImage(const char *path, bool &created) {
    HANDLE file =
        CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    created = file != INVALID_HANDLE_VALUE;
    if (!created) return false;
    uint8_t image[CONFIG_FILE_SIZE];
    config_encode(q72cfg, image);
    DWORD count = 0;
    bool written = WriteFile(file, image, sizeof image, &count, NULL) && count == sizeof image &&
                   FlushFileBuffers(file);
    return CloseHandle(file) && written;
}

static int saveFailed(HWND owner) {
    showError(owner, "Save State Failed.");
    return 0;
}

int saveConfigFile(HWND owner) {
    if (!szConfigName[0]) return 0;
    char temp[CONFIG_PATH_MAX];
    int length = std::snprintf(temp, sizeof temp, "%s.tmp", szConfigName);
    bool created = false;
    bool written = length > 0 && length < (int)sizeof temp && writeImage(temp, created);
    if (created && !written) {
        DeleteFileA(temp);
        return saveFailed(owner);
    }
    if (!writable(szConfigName)) {
        if (created) DeleteFileA(temp);
        return 0;
    }
    if (!created) {
        // No temporary file beside it (a read-only folder, or a path with no
        // room for the suffix): the file itself, written in place.
        written = writeImage(szConfigName, created);
        if (!created) return 0;
        return written ? 1 : saveFailed(owner);
    }
    if (!MoveFileExA(temp, szConfigName, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp);
        return saveFailed(owner);
    }
    return 1;
}
