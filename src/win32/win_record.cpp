#include "win32/win_record.h"

#include <windows.h>

static HANDLE recordFile = INVALID_HANDLE_VALUE;

bool record_open(const char *path) {
    // Append-only access: every write lands at the end, after what an earlier
    // run recorded. Others may read it meanwhile.
    recordFile = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    return recordFile != INVALID_HANDLE_VALUE;
}

// Written straight through to the system with each read, so nothing waits in
// the program: the file is complete up to the last byte read, even if the
// program is killed.
void record_bytes(const uint8_t *bytes, size_t count) {
    if (recordFile == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(recordFile, bytes, (DWORD)count, &written, NULL);
}
