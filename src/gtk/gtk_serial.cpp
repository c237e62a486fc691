#include "gtk/gtk_serial.h"
#include "gtk/gtk_record.h"
#include "link/rx_stream.h"

#include <glib.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

// Reasons of our own; the others are g_strerror's texts. The first two will
// not go away by trying again.
static const char NO_PORT[] = "no port chosen";
static const char NOT_SERIAL[] = "not a serial device";
static const char IN_USE[] = "in use by another program";

static char linkPath[PATH_MAX_BYTES];
static std::mutex portMutex; // the reader replaces portFd while a key may be written
static int portFd = -1;
static bool txStalled;  // a key timed out: keys are dropped until the device takes one
static int wakeFd = -1; // an eventfd: written once to end the reader's waits
static std::atomic<bool> stopping;
static GThread *reader;
static std::atomic<LinkState> state{LINK_CLOSED};
static void (*notifyChange)();
// Written before the state changes to closed, read only while it is closed.
static LinkFailure failure;
static const char *reported; // the reason last printed while this link opens

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

static int fail(int result, const char *reason) {
    failure = {result, linkPath, reason};
    return result;
}

// A pty has no modem lines and answers ENOTTY; that is fine.
static void clearModemLines(int fd) {
    int lines = TIOCM_DTR | TIOCM_RTS;
    ioctl(fd, TIOCMBIC, &lines);
}

// Only a terminal is a serial device. A port that another program holds is
// left as it is: flock keeps out other programs that lock it too, root ones
// included, and TIOCEXCL then keeps out every other program but root's.
static int claim(int fd) {
    if (!isatty(fd)) return fail(LINK_OPEN_FAIL, errno == ENOTTY ? NOT_SERIAL : g_strerror(errno));
    if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(LINK_OPEN_FAIL, errno == EWOULDBLOCK ? IN_USE : g_strerror(errno));
    if (ioctl(fd, TIOCEXCL) != 0) return fail(LINK_OPEN_FAIL, g_strerror(errno));
    return LINK_OK;
}

// Closes a device that claim() took. TIOCEXCL is cleared first: a pty keeps
// it after its last close while the other end is open, and would then refuse
// every later open but root's, ours included.
static void release(int fd) {
    ioctl(fd, TIOCNXCL);
    close(fd);
}

static int configure(int fd, int wake) {
    clearModemLines(fd);
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return fail(LINK_GET_STATE_FAIL, g_strerror(errno));
    cfmakeraw(&tio);
    cfsetispeed(&tio, B19200);
    cfsetospeed(&tio, B19200);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail(LINK_SET_STATE_FAIL, g_strerror(errno));
    // A line that was at speed 0 raises DTR and RTS when it gets a speed.
    clearModemLines(fd);
    // Woken while settling, the link is being closed: the caller gives up anyway.
    if (woken(wake, SETTLE_MS)) return fail(LINK_PURGE_FAIL, "closed while settling");
    if (tcflush(fd, TCIFLUSH) != 0) return fail(LINK_PURGE_FAIL, g_strerror(errno));
    return LINK_OK;
}

// A path that exists but is no character device (a folder, a plain file, a
// FIFO) is not opened at all.
static int openPort(const char *path, int wake, int *out) {
    if (!path[0]) return fail(LINK_OPEN_FAIL, NO_PORT);
    struct stat info;
    if (stat(path, &info) == 0 && !S_ISCHR(info.st_mode)) return fail(LINK_OPEN_FAIL, NOT_SERIAL);
    int fd = open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    // EBUSY: another program holds the device with TIOCEXCL, as we do.
    if (fd < 0) return fail(LINK_OPEN_FAIL, errno == EBUSY ? IN_USE : g_strerror(errno));
    int result = claim(fd);
    if (result != LINK_OK) {
        close(fd); // another program's TIOCEXCL, if any, stays
        return result;
    }
    result = configure(fd, wake);
    if (result != LINK_OK) {
        release(fd);
        return result;
    }
    failure = {};
    *out = fd;
    return LINK_OK;
}

static bool isPermanent(const char *reason) {
    return reason == NO_PORT || reason == NOT_SERIAL;
}

// One line on standard error for each distinct reason while the link is being
// opened, so that retries that fail alike say it once. Permission denied on a
// device that its group may use names the group (dialout, as a rule).
static void reportFailure() {
    if (failure.reason == reported) return;
    reported = failure.reason;
    char group[64] = "";
    struct stat info;
    // g_strerror gives the same string for the same code every time.
    if (failure.reason == g_strerror(EACCES) && stat(linkPath, &info) == 0 &&
        (info.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP)) {
        char buf[1024];
        struct group entry, *found = nullptr;
        if (getgrgid_r(info.st_gid, &entry, buf, sizeof buf, &found) == 0 && found)
            g_snprintf(group, sizeof group, " (members of the group %s may open it)",
                       found->gr_name);
    }
    std::fprintf(stderr, "q72display: cannot open %s: %s%s\n", linkPath[0] ? linkPath : "the link",
                 failure.reason, group);
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
    if (portFd >= 0) release(portFd);
    portFd = fd;
    txStalled = false;
}

// Opens the device again for a link whose device has gone or was not there
// at start. No port, or a path that is no serial device, will not do better
// later: the link closes by itself, with the reason left for the user.
// Returns false then, or when the link is being closed.
static bool reopen() {
    int fd = -1;
    if (openPort(linkPath, wakeFd, &fd) == LINK_OK) {
        reported = nullptr;
        setPort(fd);
        setState(LINK_OPEN);
        return true;
    }
    if (stopping) return false;
    reportFailure();
    bool permanent = isPermanent(failure.reason);
    setState(permanent ? LINK_CLOSED : LINK_LOST);
    return !permanent;
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
            if (!reopen()) break;
            continue;
        }
        pollfd p[2] = {{portFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        int ready = poll(p, 2, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready > 0 && p[1].revents) break;
        // A poll that fails otherwise counts as a read that fails.
        ssize_t got = ready > 0 ? read(portFd, buf, sizeof buf) : -1;
        if (got > 0) {
            record_bytes(buf, (size_t)got);
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

static int startReader(int fd, int wake) {
    portFd = fd;
    wakeFd = wake;
    stopping = false;
    state = LINK_OPEN;
    GError *error = nullptr;
    reader = g_thread_try_new("q72-reader", readerMain, nullptr, &error);
    if (reader) return LINK_OK;
    fail(LINK_THREAD_FAIL, "the reader could not be started");
    g_error_free(error);
    setPort(-1);
    close(wakeFd);
    wakeFd = -1;
    state = LINK_CLOSED;
    return LINK_THREAD_FAIL;
}

// Returns the new wake event, or -1. A reader that has given up by itself is
// joined first.
static int begin(const char *path) {
    link_close();
    g_strlcpy(linkPath, path, sizeof linkPath);
    reported = nullptr;
    int wake = eventfd(0, EFD_CLOEXEC);
    if (wake < 0) fail(LINK_THREAD_FAIL, g_strerror(errno));
    return wake;
}

int link_open(const char *path) {
    int wake = begin(path);
    int fd = -1;
    int result = wake < 0 ? LINK_THREAD_FAIL : openPort(path, wake, &fd);
    if (result == LINK_OK)
        result = startReader(fd, wake); // closes both when it fails
    else if (wake >= 0)
        close(wake);
    if (result != LINK_OK) reportFailure();
    return result;
}

int link_open_retrying(const char *path) {
    int wake = begin(path);
    return wake < 0 ? LINK_THREAD_FAIL : startReader(-1, wake);
}

void link_close() {
    failure = {};
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

LinkFailure link_last_failure() {
    return state == LINK_CLOSED ? failure : LinkFailure{};
}

void link_on_change(void (*notify)()) {
    notifyChange = notify;
}

// Once a key has timed out, the next ones are tried without waiting, so keys
// against a stalled modem cost nothing until it takes a byte again.
void link_send(uint8_t code) {
    std::lock_guard<std::mutex> hold(portMutex);
    if (portFd < 0) return;
    for (int64_t deadline = nowMs() + (txStalled ? 0 : WRITE_LIMIT_MS);;) {
        ssize_t written = write(portFd, &code, 1);
        if (written == 1) {
            txStalled = false;
            return;
        }
        if (written < 0 && errno != EAGAIN && errno != EINTR) return;
        int64_t left = deadline - nowMs();
        if (left <= 0) {
            txStalled = true;
            return;
        }
        pollfd p = {portFd, POLLOUT, 0};
        poll(&p, 1, (int)left);
    }
}
