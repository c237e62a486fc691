// The modem's end of the serial line: opening the device raw at 19200 8N1,
// and an outgoing queue that hands bytes to the device no faster than the
// line would carry them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// 19200 baud with a start bit, 8 data bits and a stop bit: ten bits a byte.
constexpr int64_t LINE_BYTES_PER_SECOND = 1920;

// Monotonic clock in nanoseconds.
int64_t clock_ns();

// Opens a serial device or pty without waiting for carrier and sets it to
// 19200 baud, 8N1, raw, no flow control, non-blocking. Returns the descriptor,
// or -1 with a one-line reason in `error`.
int line_open(const char *path, std::string &error);

// Bytes waiting to go out. With `paced` set, byte k of a continuous run is
// written once its last bit would have left a 19200 baud line, counted from
// the start of the run, so the rate does not drift however the writes fall.
struct Outbox {
    unsigned char buf[16384];
    size_t start = 0, end = 0; // pending bytes are buf[start, end)
    bool paced = true;
    bool blocked = false; // the device refused the last write; wait for POLLOUT
    bool idle = true;     // the queue has run empty: the next byte may start a new run
    int64_t runStart = 0; // time the current run of bytes began
    int64_t runSent = 0;  // bytes written in the current run
};

size_t outbox_pending(const Outbox &out);
// Free space at the tail after moving the pending bytes to the front;
// outbox_tail() is where it starts, outbox_commit() adds what was put there.
size_t outbox_room(Outbox &out);
unsigned char *outbox_tail(Outbox &out);
void outbox_commit(Outbox &out, size_t n);
// Queues all n bytes, or none when they do not fit.
bool outbox_put(Outbox &out, const unsigned char *bytes, size_t n);
// Writes whatever is due at `now`. Returns false with `error` set when the
// device fails.
bool outbox_send(Outbox &out, int fd, int64_t now, std::string &error);
// Drops every byte not yet taken by the far end, queued here or in the device.
void outbox_discard(Outbox &out, int fd);
// When the next pending byte falls due, or -1 when nothing waits on time
// (queue empty, unpaced, or the device is blocked).
int64_t outbox_next_due(const Outbox &out, int64_t now);
