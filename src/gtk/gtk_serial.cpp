#include "gtk/gtk_serial.h"
#include "link/rx_stream.h"

#include <glib.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

enum {
    SETTLE_MS = 400,      // the line settles before what arrived so far is dropped
    RETRY_MS = 1000,      // between attempts to reopen a device that has gone
    WRITE_LIMIT_MS = 500, // longest a key code may hold up the window
    GATHER_MS = 2,        // a read of a few bytes: let more come before the next
    GATHER_BELOW = 16,    // bytes in a read that count as a few
    PATH_MAX_BYTES = 4096,
};

static char linkPath[PATH_MAX_BYTES];
static std::mutex portMutex; // the reader replaces portFd while a key may be written
static int portFd = -1;
static int wakeFd = -1; // an eventfd: written once to end the reader's waits
static std::atomic<bool> stopping;
static GThread *reader;
static std::atomic<LinkState> state{LINK_CLOSED};
static void (*notifyChange)();
static int recordFd = -1;

static int64_t nowMs() {
    return g_get_monotonic_time() / 1000;
}

// Waits up to `ms` for the wake event; true when it came.
static bool woken(int wake, int ms) {
    pollfd p = {wake, POLLIN, 0};
    for (int64_t deadline = nowMs() + ms;;) {
        int64_t left = deadline - nowMs();
        if (left <= 0) return false;
        int ready = poll(&p, 1, (int)left);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

// A pty has no modem lines and answers ENOTTY; that is fine.
static void clearModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
}

static int configure(int fd, int wake) {
    clearModemLines(fd);
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return LINK_GET_STATE_FAIL;
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return LINK_SET_STATE_FAIL;
    // A line that was at speed 0 raises DTR and RTS when it gets a speed.
    clearModemLines(fd);
    // Woken while settling, the link is being closed: the caller gives up anyway.
    if (woken(wake, SETTLE_MS) || tcflush(fd, TCIFLUSH) != 0) return LINK_PURGE_FAIL;
    return LINK_OK;
}

static int openPort(const char *path, int wake, int *out) {
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return LINK_OPEN_FAIL;
    // Nobody else may open it while it is ours (root still can).
    ioctl(fd, TIOCEXCL);
    int result = configure(fd, wake);
    if (result != LINK_OK) {
        close(fd);
        return result;
    }
    *out = fd;
    return LINK_OK;
}

static gboolean notifyMain(gpointer) {
    if (notifyChange) notifyChange();
    return G_SOURCE_REMOVE;
}

static void setState(LinkState next) {
    if (state.exchange(next) != next) g_idle_add(notifyMain, nullptr);
}

static void setPort(int fd) {
    std::lock_guard<std::mutex> hold(portMutex);
    if (portFd >= 0) close(portFd);
    portFd = fd;
}

static void record(const uint8_t *bytes, size_t count) {
    while (recordFd >= 0 && count > 0) {
        ssize_t written = write(recordFd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            std::fprintf(stderr, "q72display: recording stopped: %s\n", std::strerror(errno));
            close(recordFd);
            recordFd = -1;
            return;
        }
        bytes += written;
        count -= (size_t)written;
    }
}

// Reads what is waiting, in one call, and hands it to the interpreter. A device
// that has gone reads as end of file (a pty whose other side was closed) or
// fails with EIO or ENXIO (an unplugged USB adapter); it is closed and reopened
// about once a second until it is back or the link is closed.
static gpointer readerMain(gpointer) {
    uint8_t buf[4096];
    bool retryAtOnce = portFd < 0; // started without a device
    while (!stopping) {
        if (portFd < 0) {
            if (!retryAtOnce && woken(wakeFd, RETRY_MS)) break;
            retryAtOnce = false;
            int fd = -1;
            if (openPort(linkPath, wakeFd, &fd) == LINK_OK) {
                setPort(fd);
                setState(LINK_OPEN);
            } else {
                setState(LINK_LOST);
            }
            continue;
        }
        pollfd p[2] = {{portFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(p, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && p[1].revents) break;
        // A poll that fails otherwise counts as a read that fails.
        ssize_t got = ready > 0 ? read(portFd, buf, sizeof buf) : -1;
        if (got > 0) {
            record(buf, (size_t)got);
            rx_feed(buf, (size_t)got);
            // At 19200 baud a byte comes every half millisecond: waking for
            // each would cost more than interpreting it.
            if (got < GATHER_BELOW && woken(wakeFd, GATHER_MS)) break;
            continue;
        }
        bool hungUp = p[0].revents & (POLLHUP | POLLERR | POLLNVAL);
        if (got < 0 && (errno == EAGAIN || errno == EINTR) && !hungUp) continue;
        setPort(-1);
        setState(LINK_LOST);
    }
    return nullptr;
}

static int startReader(const char *path, int fd, int wake) {
    g_strlcpy(linkPath, path, sizeof linkPath);
    portFd = fd;
    wakeFd = wake;
    stopping = false;
    state = LINK_OPEN;
    GError *error = nullptr;
    reader = g_thread_try_new("q72-reader", readerMain, nullptr, &error);
    if (reader) return LINK_OK;
    g_error_free(error);
    setPort(-1);
    close(wakeFd);
    wakeFd = -1;
    state = LINK_CLOSED;
    return LINK_THREAD_FAIL;
}

int link_open(const char *path) {
    int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0) return LINK_THREAD_FAIL;
    int fd = -1;
    int result = openPort(path, wake, &fd);
    if (result != LINK_OK) {
        close(wake);
        return result;
    }
    return startReader(path, fd, wake);
}

int link_open_retrying(const char *path) {
    int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0) return LINK_THREAD_FAIL;
    return startReader(path, -1, wake);
}

void link_close() {
    if (!reader) return;
    stopping = true;
    uint64_t one = 1;
    while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
    g_thread_join(reader);
    reader = nullptr;
    close(wakeFd);
    wakeFd = -1;
    setPort(-1);
    state = LINK_CLOSED;
}

LinkState link_state() {
    return state;
}

void link_on_change(void (*notify)()) {
    notifyChange = notify;
}

void link_send(uint8_t code) {
    std::lock_guard<std::mutex> hold(portMutex);
    for (int64_t deadline = nowMs() + WRITE_LIMIT_MS; portFd >= 0;) {
        ssize_t written = write(portFd, &code, 1);
        if (written == 1 || (written < 0 && errno != EAGAIN && errno != EINTR)) return;
        int64_t left = deadline - nowMs();
        if (left <= 0) return;
        pollfd p = {portFd, POLLOUT, 0};
        poll(&p, 1, (int)left);
    }
}

void link_record_to(int fd) {
    recordFd = fd;
}
