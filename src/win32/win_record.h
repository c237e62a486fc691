// --record FILE: every byte received from the modem, raw and in order,
// appended to a file for replay with q72render or q72modem.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

// Opens (or creates) `path` for appending. The name stays wide, as the user
// gave it: in the ANSI code page a character it lacks would be mapped to
// another and name another file. False when it cannot be opened.
bool record_open(const wchar_t *path);

// Appends bytes as they arrive; does nothing while no file is open. A write
// that fails (disk full, share gone) closes the file, which ends the
// recording, and posts the message given to record_failure_to, once.
// Receive thread only.
void record_bytes(const uint8_t *bytes, size_t count);

void record_failure_to(HWND window, UINT message);

// Message boxes naming the file: it could not be opened; the recording has
// stopped because a write failed. `owner` is NULL before the main window exists.
void record_show_open_failure(HWND owner);
void record_show_write_failure(HWND owner);
