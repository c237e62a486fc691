// --record FILE: every byte received from the modem, raw and in order,
// appended to a file for replay with q72render or q72modem.
#pragma once
#include <cstddef>
#include <cstdint>

// Opens (or creates) `path` for appending. False when it cannot be opened.
bool record_open(const char *path);

// Appends bytes as they arrive; does nothing while no file is open.
// Receive thread only.
void record_bytes(const uint8_t *bytes, size_t count);
