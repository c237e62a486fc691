// The serial link to the modem: a termios device, the reader thread that
// feeds the display stream interpreter and the record file, the key transmit,
// and the quiet reconnect after the device has gone. Everything here but the
// reader runs on the main thread.
#pragma once
#include "link/link_status.h"

#include <cstdint>

// Opens `path` at 19200 baud 8N1, raw, no flow control, locked against other
// programs, with DTR and RTS cleared; lets the line settle for 400 ms, drops
// what arrived meanwhile and starts the reader. Returns LINK_OK, or a failure
// code with one line on standard error naming the path and the reason, and
// then leaves nothing open.
int link_open(const char *path);

// Starts the reader on `path` at once and opens the device from there: a
// device that cannot be opened (missing, in use, no permission) counts as
// lost and is tried again about once a second, saying each new reason once
// on standard error. No port (an empty path) or a path that is no serial
// device closes the link, and the change is notified. Returns LINK_OK, or
// LINK_THREAD_FAIL.
int link_open_retrying(const char *path);

// Ends the reader and any retries, waits for the reader to end and closes the
// device; forgets the last failure.
void link_close();

// While the link is closed: why the last attempt to open it failed, as the
// result code, the path and a reason for the user ("Permission denied", "in
// use by another program", "not a serial device"...). Else, and once it has
// opened or been closed, the reason is nullptr.
struct LinkFailure {
    int result;
    const char *path;
    const char *reason;
};
LinkFailure link_last_failure();

// Closed, open, or open with its device gone (being reopened).
LinkState link_state();

// `notify` runs on the main thread after the link has gone from open to lost
// or back, or has closed, by itself.
void link_on_change(void (*notify)());

// Sends one key code while the device is open; a code that cannot go out
// within half a second is dropped, and so is every later one at once until
// the device takes a byte again.
void link_send(uint8_t code);
