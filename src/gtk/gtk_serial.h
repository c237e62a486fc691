// The serial link to the modem: a termios device, the reader thread that
// feeds the display stream interpreter, the key transmit, the quiet reconnect
// after the device has gone, and the recording of what arrives. Everything
// here but the reader runs on the main thread.
#pragma once
#include "link/link_status.h"

#include <cstdint>

// Opens `path` at 19200 baud 8N1, raw, no flow control, exclusive, with DTR
// and RTS cleared; lets the line settle for 400 ms, drops what arrived
// meanwhile and starts the reader. Returns LINK_OK or a failure code, and
// then leaves nothing open.
int link_open(const char *path);

// Starts the reader on `path` at once and opens the device from there: a
// device that cannot be opened counts as lost and is tried again about once
// a second. Returns LINK_OK, or LINK_THREAD_FAIL.
int link_open_retrying(const char *path);

// Ends the reader and any retries, waits for the reader to end and closes the
// device. Does nothing while the link is closed.
void link_close();

// Closed, open, or open with its device gone (being reopened).
LinkState link_state();

// `notify` runs on the main thread after the link has gone from open to lost
// or back by itself.
void link_on_change(void (*notify)());

// Sends one key code while the device is open; a code that cannot go out
// within half a second is dropped.
void link_send(uint8_t code);

// Appends every byte read from the device to the file open as `fd`, raw and
// at once. Call before the link is first opened.
void link_record_to(int fd);
