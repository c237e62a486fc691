// --transcript FILE: every line the history takes in, "TIME<TAB>TEXT" with
// CRLF, appended as it enters, after a comment line for the run; when the
// program ends, the rows still on screen. A thread of its own writes, so a
// slow or stuck file never holds up the reader or the display.
#pragma once
#include <windows.h>

#include <cstdint>

// Opens (or creates) `path` for appending, wide as the user gave it, and
// starts the writer with the comment line naming COM port `port` (0 = none).
// False when it cannot be opened.
bool transcript_open(const wchar_t *path, unsigned port);

// The interpreter has just added a line to the history (any thread).
void transcript_line_entered();

// Where the one failure message goes: a write failed, hung for seconds, or
// fell so far behind that the history dropped lines it had not written.
void transcript_failure_to(HWND window, UINT message);

// Window thread, on its tick: ends a transcript whose write has hung.
void transcript_tick();

// The program is ending: the lines not yet written and the rows still on
// screen are appended, waiting a few seconds at most.
void transcript_finish();

void transcript_show_open_failure(HWND owner);
void transcript_show_write_failure(HWND owner);
