#include "win32/win_transcript.h"
#include "app/config.h"
#include "app/history.h"
#include "app/version.h"
#include "win32/win_file_error.h"
#include "win32/win_host.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <cwchar>

namespace {

enum {
    BATCH = 64,            // lines copied under the lock at a time
    HUNG_MS = 5000,        // a write this long ends the transcript
    FINISH_WAIT_MS = 3000, // the most the ending program waits for the writer
};

HANDLE file = INVALID_HANDLE_VALUE;
HANDLE wake, writer;
wchar_t filePath[CONFIG_PATH_MAX];
char comment[128];
HWND failureWindow;
UINT failureMessage;
std::atomic<bool> ending, failed;
std::atomic<uint64_t> writeSince; // GetTickCount64 when the pending write began, 0 if none
uint64_t next;                    // the first history line not yet written (writer only)
char text[(BATCH + HISTORY_ROWS) * HISTORY_ENTRY_MAX];

// Once: the writer stops for good and the window is told.
void fail() {
    if (failed.exchange(true)) return;
    if (failureWindow) PostMessageA(failureWindow, failureMessage, 0, 0);
}

bool put(const char *bytes, int length) {
    writeSince = GetTickCount64();
    DWORD written = 0;
    bool done = WriteFile(file, bytes, (DWORD)length, &written, NULL) && written == (DWORD)length;
    writeSince = 0;
    if (!done || failed) fail();
    return !failed;
}

// Up to BATCH lines from `next` on, formatted into `text`, with the rows on
// screen after the last line when `withRows` (then `finished`); returns the
// bytes formatted. `lost`: the history has dropped lines not yet written.
int take(bool withRows, bool &lost, bool &finished) {
    HistoryLine lines[BATCH + HISTORY_ROWS];
    map_lock();
    lost = next < history_first();
    int count = history_take(next, lines, BATCH);
    finished = withRows && next == history_end();
    if (finished) count += history_on_screen(lines + count);
    map_unlock();
    int length = 0;
    for (int k = 0; k < count; k++)
        length += history_entry(lines[k], "\r\n", text + length, HISTORY_ENTRY_MAX);
    return length;
}

// Writes until the end or a failure; each wake-up writes what has entered.
void writeAll() {
    if (!put(comment, (int)std::strlen(comment))) return;
    for (;;) {
        WaitForSingleObject(wake, INFINITE);
        bool last = ending;
        for (;;) {
            bool lost, finished;
            int length = take(last, lost, finished);
            if (lost) fail();
            if (failed || (length && !put(text, length))) return;
            if (finished || (!last && length == 0)) break;
        }
        if (last) return;
    }
}

DWORD WINAPI writer_main(LPVOID) {
    writeAll();
    CloseHandle(file);
    return 0;
}

} // namespace

bool transcript_open(const wchar_t *path, unsigned port) {
    std::wcsncpy(filePath, path, CONFIG_PATH_MAX - 1);
    filePath[CONFIG_PATH_MAX - 1] = 0;
    file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                       OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    char started[HISTORY_TIME_MAX], portName[16] = "none";
    history_time_text((int64_t)std::time(nullptr), started);
    if (port) std::snprintf(portName, sizeof portName, "COM%u", port);
    std::snprintf(comment, sizeof comment, "# q72display %s, port %s, started %s\r\n", Q72_VERSION,
                  portName, started);
    map_lock();
    next = history_end();
    map_unlock();
    wake = CreateEventA(NULL, FALSE, FALSE, NULL);
    writer = wake ? CreateThread(NULL, 0, writer_main, NULL, 0, NULL) : NULL;
    if (!writer) CloseHandle(file);
    return writer != NULL;
}

void transcript_line_entered() {
    if (wake) SetEvent(wake);
}

void transcript_failure_to(HWND window, UINT message) {
    failureWindow = window;
    failureMessage = message;
}

// A write that never returns (a pipe nobody reads, a share that hangs) is
// cancelled where the system can, and the transcript ends either way.
void transcript_tick() {
    uint64_t since = writeSince;
    if (!writer || failed || since == 0 || GetTickCount64() - since < HUNG_MS) return;
    fail();
    CancelSynchronousIo(writer);
}

void transcript_finish() {
    if (!writer || failed) return; // a writer stuck in a hung write is not waited for
    ending = true;
    SetEvent(wake);
    WaitForSingleObject(writer, FINISH_WAIT_MS);
}

void transcript_show_open_failure(HWND owner) {
    show_file_error(owner, "Cannot open the transcript file", filePath);
}

void transcript_show_write_failure(HWND owner) {
    show_file_error(owner, "Transcript stopped: the transcript file cannot be written", filePath);
}
