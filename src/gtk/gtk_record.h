// The record file (--record): every byte read from the modem, appended raw
// and in order. It never holds up the reader: a target that would block (a
// FIFO whose reader has stalled) or fails ends the recording instead.
#pragma once
#include <cstddef>
#include <cstdint>

// Opens `path` for appending, without waiting for a FIFO's reader. Returns
// nullptr, or why it cannot be opened.
const char *record_start(const char *path);

// Opens `path` for appending as the record file is opened, setting `fd`.
// Returns nullptr, or why it cannot be opened.
const char *append_open(const char *path, int *fd);

// Appends bytes on the reader thread; nothing once the recording has stopped.
void record_bytes(const uint8_t *bytes, size_t count);

// `notify` runs on the main thread, once, when the recording has stopped by
// itself, with the file's path and why.
void record_on_stop(void (*notify)(const char *path, const char *reason));
