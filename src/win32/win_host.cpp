#include "win32/win_host.h"
#include "app/change_reader.h"
#include "app/history.h"
#include "win32/win_access.h"
#include "win32/win_main.h"
#include "win32/win_transcript.h"
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

// Under the map lock, on the receive thread: the change reader (which also
// feeds the history) hears every change; a line the history took in wakes
// the transcript's writer.
static void noteChange(RxChange what, int x, int y) {
    uint64_t before = history_end();
    change_reader_note(what, x, y);
    if (history_end() != before) transcript_line_entered();
}

void connect_interpreter() {
    rx_set_host({repaintMainWindow, map_lock, map_unlock, noteChange});
}
