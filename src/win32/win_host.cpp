#include "win32/win_host.h"
#include "app/change_reader.h"
#include "win32/win_access.h"
#include "win32/win_main.h"
#include "link/rx_stream.h"

static SRWLOCK mapLock = SRWLOCK_INIT;

void map_lock() {
    AcquireSRWLockExclusive(&mapLock);
}
void map_unlock() {
    ReleaseSRWLockExclusive(&mapLock);
}

// Returns after the window thread has painted, so each command's result is
// shown; screen readers are told after the paint, from the message loop.
static void repaintMainWindow() {
    RedrawWindow(gHwnd, NULL, NULL, RDW_INVALIDATE | RDW_UPDATENOW);
    access_speech_due();
}

void connect_interpreter() {
    rx_set_host({repaintMainWindow, map_lock, map_unlock, change_reader_note});
}
