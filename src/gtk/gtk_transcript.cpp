#include "gtk/gtk_transcript.h"
#include "app/history.h"
#include "app/version.h"
#include "gtk/gtk_host.h"
#include "gtk/gtk_record.h"
#include "gtk/gtk_settings.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

enum {
    PATH_MAX_BYTES = 4096,
    BATCH = 64, // lines copied under the lock at a time, written outside it
};

static const int64_t startedAt = (int64_t)std::time(nullptr);
static char transcriptPath[PATH_MAX_BYTES];
static int transcriptFd = -1;
static uint64_t nextLine; // the first history line not yet written
static void (*notifyStop)(const char *path, const char *reason);

void transcript_comment(char *out, size_t size) {
    char started[HISTORY_TIME_MAX];
    history_time_text(startedAt, started);
    std::snprintf(out, size, "# q72display %s, port %s, started %s\n", Q72_VERSION,
                  gPortPath[0] ? gPortPath : "(none)", started);
}

static const char *stopReason;

static gboolean tellStopped(gpointer) {
    if (notifyStop) notifyStop(transcriptPath, stopReason);
    return G_SOURCE_REMOVE;
}

static void stop(const char *reason) {
    std::fprintf(stderr, "q72display: transcript to %s stopped: %s\n", transcriptPath, reason);
    close(transcriptFd);
    transcriptFd = -1;
    stopReason = reason;
    g_idle_add(tellStopped, nullptr);
}

// The descriptor never blocks: a write the target cannot take at once ends
// the transcript rather than holding up the main loop.
static void writeAll(const char *bytes, size_t count) {
    while (transcriptFd >= 0 && count > 0) {
        ssize_t written = write(transcriptFd, bytes, count);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno == EAGAIN) return stop("it takes no more lines");
        if (written <= 0) return stop(written < 0 ? g_strerror(errno) : "nothing written");
        bytes += written;
        count -= (size_t)written;
    }
}

// Lines that left the ring before a frame came (never at any real speed)
// are skipped.
static void writeNewLines() {
    static HistoryLine lines[BATCH];
    static char text[BATCH * HISTORY_ENTRY_MAX];
    while (transcriptFd >= 0) {
        map_lock();
        int count = history_take(nextLine, lines, BATCH);
        map_unlock();
        size_t length = 0;
        for (int k = 0; k < count; k++)
            length += history_entry(lines[k], "\n", text + length, HISTORY_ENTRY_MAX);
        if (!length) return;
        writeAll(text, length);
    }
}

const char *transcript_start(const char *path) {
    g_strlcpy(transcriptPath, path, sizeof transcriptPath);
    const char *reason = append_open(path, &transcriptFd);
    if (reason) return reason;
    char comment[PATH_MAX_BYTES + 100];
    transcript_comment(comment, sizeof comment);
    map_lock();
    nextLine = history_end();
    map_unlock();
    writeAll(comment, std::strlen(comment));
    on_frame(writeNewLines);
    return nullptr;
}

void transcript_end() {
    writeNewLines();
    if (transcriptFd < 0) return;
    HistoryLine rows[HISTORY_ROWS];
    map_lock();
    int count = history_on_screen(rows);
    map_unlock();
    char text[HISTORY_ROWS * HISTORY_ENTRY_MAX];
    size_t length = 0;
    for (int k = 0; k < count; k++)
        length += history_entry(rows[k], "\n", text + length, HISTORY_ENTRY_MAX);
    writeAll(text, length);
    if (transcriptFd >= 0) close(transcriptFd);
    transcriptFd = -1;
}

void transcript_on_stop(void (*notify)(const char *path, const char *reason)) {
    notifyStop = notify;
}
