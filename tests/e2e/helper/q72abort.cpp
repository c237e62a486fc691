// q72abort.dll: loaded into the program by q72probe ("abortreads"), it plays
// a serial driver that aborts every read: every I/O on the process's COM
// port is cancelled every few milliseconds, so each read ends with
// ERROR_OPERATION_ABORTED, until the event "q72abort-stop" is set.
#include <windows.h>

// A handle of this process that is a serial port (its line settings can be
// read), NULL if there is none.
static HANDLE findPort() {
    for (UINT_PTR value = 4; value < 0x1000; value += 4) {
        HANDLE handle = (HANDLE)value;
        DCB dcb = {};
        dcb.DCBlength = sizeof dcb;
        if (GetFileType(handle) == FILE_TYPE_CHAR && GetCommState(handle, &dcb)) return handle;
    }
    return NULL;
}

static DWORD WINAPI abortReads(LPVOID) {
    HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, "q72abort-stop");
    if (!stop) return 1;
    HANDLE port = NULL;
    for (int round = 0; WaitForSingleObject(stop, 2) == WAIT_TIMEOUT; round++) {
        // Looked for again once the port has been closed (it is reopened).
        if (!port && round % 25 == 0) port = findPort();
        if (port && !CancelIoEx(port, NULL) && GetLastError() != ERROR_NOT_FOUND) port = NULL;
    }
    CloseHandle(stop);
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE thread = CreateThread(NULL, 0, abortReads, NULL, 0, NULL);
        if (thread) CloseHandle(thread);
    }
    return TRUE;
}
