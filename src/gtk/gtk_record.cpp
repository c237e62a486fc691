#include "gtk/gtk_record.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

enum { PATH_MAX_BYTES = 4096 };

static char recordPath[PATH_MAX_BYTES];
static int recordFd = -1; // written by the reader thread only, once opened
static const char *stopReason;
static void (*notifyStop)(const char *path, const char *reason);

const char *append_open(const char *path, int *fd) {
    // O_NONBLOCK: a FIFO with no reader fails at once instead of waiting for
    // one, and a full one fails a write instead of holding up the reader.
    *fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (*fd >= 0) return nullptr;
    int error = errno;
    struct stat info;
    if (error == ENXIO && stat(path, &info) == 0 && S_ISFIFO(info.st_mode))
        return "no program reads from this FIFO";
    return g_strerror(error);
}

const char *record_start(const char *path) {
    g_strlcpy(recordPath, path, sizeof recordPath);
    int fd = -1;
    const char *reason = append_open(path, &fd);
    recordFd = fd;
    return reason;
}

static gboolean tellStopped(gpointer) {
    if (notifyStop) notifyStop(recordPath, stopReason);
    return G_SOURCE_REMOVE;
}

static void stop(const char *reason) {
    std::fprintf(stderr, "q72display: recording to %s stopped: %s\n", recordPath, reason);
    close(recordFd);
    recordFd = -1;
    stopReason = reason;
    g_idle_add(tellStopped, nullptr);
}

void record_bytes(const uint8_t *bytes, size_t count) {
    while (recordFd >= 0 && count > 0) {
        ssize_t written = write(recordFd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) return stop("it takes no more bytes");
        if (written <= 0) return stop(written < 0 ? g_strerror(errno) : "nothing written");
        bytes += written;
        count -= (size_t)written;
    }
}

void record_on_stop(void (*notify)(const char *path, const char *reason)) {
    notifyStop = notify;
}
