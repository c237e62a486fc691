#include "modem_line.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

constexpr int64_t kNsPerSecond = 1000000000;

int64_t clock_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

int line_open(const char *path, std::string &error) {
    // O_NONBLOCK: a serial port waiting for carrier must not hold up the open.
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        error = std::string("cannot open ") + path + ": " + std::strerror(errno);
        return -1;
    }
    termios tio;
    if (tcgetattr(fd, &tio) != 0) {
        error = std::string(path) + " is not a serial device: " + std::strerror(errno);
        close(fd);
        return -1;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, B19200) != 0 || cfsetospeed(&tio, B19200) != 0 ||
        tcsetattr(fd, TCSANOW, &tio) != 0) {
        error = std::string("cannot set up ") + path + ": " + std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

size_t outbox_pending(const Outbox &out) {
    return out.end - out.start;
}

size_t outbox_room(Outbox &out) {
    if (out.start > 0) {
        std::memmove(out.buf, out.buf + out.start, out.end - out.start);
        out.end -= out.start;
        out.start = 0;
    }
    return sizeof out.buf - out.end;
}

unsigned char *outbox_tail(Outbox &out) {
    return out.buf + out.end;
}

void outbox_commit(Outbox &out, size_t n) {
    out.end += n;
}

bool outbox_put(Outbox &out, const unsigned char *bytes, size_t n) {
    if (n > outbox_room(out)) return false;
    std::memcpy(outbox_tail(out), bytes, n);
    outbox_commit(out, n);
    return true;
}

// Time by which the first k bytes of the current run have left the line.
static int64_t run_time(const Outbox &out, int64_t k) {
    return out.runStart + (k * kNsPerSecond + LINE_BYTES_PER_SECOND - 1) / LINE_BYTES_PER_SECOND;
}

bool outbox_send(Outbox &out, int fd, int64_t now, std::string &error) {
    size_t n = outbox_pending(out);
    if (n == 0) return true;
    if (out.paced) {
        // A new run starts when the line has gone quiet: no catching up on idle time.
        if (run_time(out, out.runSent) < now && out.idle) {
            out.runStart = now;
            out.runSent = 0;
        }
        out.idle = false;
        int64_t due = (now - out.runStart) * LINE_BYTES_PER_SECOND / kNsPerSecond - out.runSent;
        if (due <= 0) return true;
        if (size_t(due) < n) n = size_t(due);
    }
    ssize_t written = write(fd, out.buf + out.start, n);
    if (written < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            out.blocked = true;
            return true;
        }
        if (errno == EINTR) return true;
        error = std::string("write failed: ") + std::strerror(errno);
        return false;
    }
    out.start += size_t(written);
    out.runSent += written;
    out.blocked = size_t(written) < n;
    out.idle = outbox_pending(out) == 0;
    return true;
}

void outbox_discard(Outbox &out, int fd) {
    tcflush(fd, TCOFLUSH);
    out.start = out.end = 0;
    out.blocked = false;
    out.idle = true;
}

int64_t outbox_next_due(const Outbox &out, int64_t now) {
    if (outbox_pending(out) == 0 || !out.paced || out.blocked) return -1;
    if (out.idle) return now;
    return run_time(out, out.runSent + 1);
}
