// q72modem: a simulated modem for the far end of a serial line. It plays
// display command streams, or a demo session, to the program and logs every
// key code that comes back.
//
//   q72modem [options] DEVICE [STREAM...]
#include "app/version.h"
#include "modem_demo.h"
#include "modem_line.h"

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

static const char usage[] =
    "usage: q72modem [options] DEVICE [STREAM...]\n"
    "Simulated modem on a serial device or pty (19200 baud, 8N1, raw). Plays the\n"
    "display STREAM files in order ('-' reads stdin) at the line's speed and logs\n"
    "every key code it receives as 'SECONDS 0xHH', one line each, SECONDS counted\n"
    "from the start. With no STREAM and no --demo it only listens, until stopped.\n"
    "\n"
    "  --fast          send the streams as fast as the line takes them\n"
    "  --demo          after the streams, play a demo session until stopped\n"
    "  --duration SEC  stop after SEC seconds in all\n"
    "  --linger SEC    after the streams, keep listening SEC seconds\n"
    "  --wait-keys N   stop once N key codes have arrived and the streams are sent\n"
    "  --log FILE      write the key-code log to FILE instead of stdout\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "Exit status: 0 done or stopped by SIGINT/SIGTERM, 1 the line or a file failed\n"
    "while running, 2 bad arguments or a device or file that cannot be opened.\n";

constexpr int64_t nsPerSecond = 1000000000;
// The streams are read again when fewer bytes than this wait to go out.
constexpr size_t refillBelow = 4096;
// At a normal end, how long queued bytes may take to leave before giving up.
constexpr int64_t finishLimit = 2 * nsPerSecond;

struct Options {
    const char *device = nullptr;
    std::vector<const char *> streams;
    const char *log = nullptr;
    bool fast = false, demo = false;
    int64_t duration = -1, linger = -1; // ns, -1 = not given
    long waitKeys = 0;
};

static volatile sig_atomic_t stopRequested = 0;
static void on_stop_signal(int) {
    stopRequested = 1;
}

[[noreturn]] static void fail(int status, const std::string &message) {
    std::fprintf(stderr, "q72modem: %s\n", message.c_str());
    std::exit(status);
}

static int64_t parse_seconds(const std::string &option, const char *text) {
    char *rest;
    errno = 0;
    double value = std::strtod(text, &rest);
    if (*text == 0 || *rest != 0 || errno != 0 || !std::isfinite(value) || value < 0 || value > 1e9)
        fail(2, option + " needs a number of seconds, not '" + text + "'");
    return int64_t(value * nsPerSecond);
}

static long parse_count(const std::string &option, const char *text) {
    char *rest;
    errno = 0;
    long value = std::strtol(text, &rest, 10);
    if (*text == 0 || *rest != 0 || errno != 0 || value < 1)
        fail(2, option + " needs a whole number of 1 or more, not '" + text + "'");
    return value;
}

static Options parse_args(int argc, char **argv) {
    Options opt;
    for (int k = 1; k < argc; k++) {
        std::string arg = argv[k];
        if (arg == "--help") {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg == "--version") {
            std::printf("q72modem %s\n", Q72_VERSION);
            std::exit(0);
        } else if (arg == "--fast") {
            opt.fast = true;
        } else if (arg == "--demo") {
            opt.demo = true;
        } else if (arg == "--duration" || arg == "--linger" || arg == "--wait-keys" ||
                   arg == "--log") {
            if (k + 1 == argc) fail(2, arg + " needs a value (see --help)");
            const char *value = argv[++k];
            if (arg == "--duration")
                opt.duration = parse_seconds(arg, value);
            else if (arg == "--linger")
                opt.linger = parse_seconds(arg, value);
            else if (arg == "--wait-keys")
                opt.waitKeys = parse_count(arg, value);
            else
                opt.log = value;
        } else if (arg.size() > 1 && arg[0] == '-') {
            fail(2, "unknown option '" + arg + "' (see --help)");
        } else if (!opt.device) {
            opt.device = argv[k];
        } else {
            opt.streams.push_back(argv[k]);
        }
    }
    if (!opt.device) fail(2, "no DEVICE given (see --help)");
    if (opt.demo && opt.linger >= 0)
        fail(2, "--linger has no effect with --demo, which runs until stopped");
    return opt;
}

static int open_stream(const char *path) {
    if (std::strcmp(path, "-") == 0) return STDIN_FILENO;
    int fd = open(path, O_RDONLY);
    if (fd < 0) fail(2, std::string("cannot read ") + path + ": " + std::strerror(errno));
    return fd;
}

static void log_key(FILE *log, int64_t elapsed, unsigned char code) {
    if (std::fprintf(log, "%lld.%06lld 0x%02X\n", (long long)(elapsed / nsPerSecond),
                     (long long)(elapsed % nsPerSecond / 1000), code) < 0 ||
        std::fflush(log) != 0)
        fail(1, std::string("cannot write the log: ") + std::strerror(errno));
}

static void queue_frame(Outbox &out, const Frame &frame) {
    // A real line carries on whether or not anyone listens: what does not fit
    // is lost, a whole frame at a time so every command arrives complete.
    outbox_put(out, frame.bytes, frame.size);
}

static void earliest(int64_t &wake, int64_t t) {
    if (t >= 0 && (wake < 0 || t < wake)) wake = t;
}

// Everything one run keeps track of. Times are clock_ns() values, -1 = not yet.
struct Session {
    Options opt;
    int line = -1;
    FILE *log = stdout;
    std::vector<int> sources; // stream files, played in order
    size_t source = 0;        // the one being read
    Outbox out;
    Demo demo;
    bool demoOn = false;
    int64_t demoNext = -1;
    long keys = 0;
    int64_t start = 0, stopAt = -1, streamsDoneAt = -1, finishBy = -1;
};

// Decides whether the run is over. At a normal end the bytes still queued
// get a little time to leave first.
static bool finished(Session &s, int64_t now) {
    const Options &opt = s.opt;
    if (s.stopAt >= 0 && now >= s.stopAt) return true;
    if (s.streamsDoneAt < 0 && s.source == s.sources.size() && outbox_pending(s.out) == 0)
        s.streamsDoneAt = now;
    if (s.streamsDoneAt >= 0 && s.finishBy < 0) {
        bool enoughKeys = opt.waitKeys > 0 && s.keys >= opt.waitKeys;
        bool lingerOver = opt.linger >= 0 && now >= s.streamsDoneAt + opt.linger;
        bool playedAll = !s.sources.empty() && opt.linger < 0 && opt.waitKeys == 0 && !opt.demo;
        if (enoughKeys || lingerOver || playedAll) s.finishBy = now + finishLimit;
    }
    return s.finishBy >= 0 && (outbox_pending(s.out) == 0 || now >= s.finishBy);
}

static bool demo_running(const Session &s) {
    return s.demoOn && s.finishBy < 0;
}

static void play_demo(Session &s, int64_t now) {
    Frame frame;
    if (!s.demoOn) {
        demo_start(s.demo, now, frame);
        s.demoOn = true;
    }
    s.demoNext = demo_step(s.demo, now, frame);
    queue_frame(s.out, frame);
}

// Reads, logs and (in the demo) echoes the key codes waiting on the line.
static void take_keys(Session &s, int64_t now) {
    unsigned char buf[256];
    size_t want = sizeof buf;
    if (s.opt.waitKeys > s.keys && s.opt.waitKeys - s.keys < long(want))
        want = size_t(s.opt.waitKeys - s.keys); // codes after the awaited ones stay unread
    ssize_t n = read(s.line, buf, want);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        fail(1, std::string(s.opt.device) +
                    ": line lost: " + (n == 0 ? "hung up" : std::strerror(errno)));
    for (ssize_t k = 0; k < n; k++) {
        log_key(s.log, now - s.start, buf[k]);
        s.keys++;
        if (demo_running(s)) {
            Frame frame;
            demo_key(s.demo, buf[k], now, frame);
            queue_frame(s.out, frame);
        }
    }
}

// Moves the next piece of the current stream file into the outbox.
static void take_stream(Session &s) {
    int fd = s.sources[s.source];
    ssize_t n = read(fd, outbox_tail(s.out), outbox_room(s.out));
    if (n > 0) {
        outbox_commit(s.out, size_t(n));
    } else if (n == 0) {
        if (fd != STDIN_FILENO) close(fd);
        s.source++;
    } else if (errno != EAGAIN && errno != EINTR) {
        fail(1,
             std::string("cannot read ") + s.opt.streams[s.source] + ": " + std::strerror(errno));
    }
}

// Waits for the line, the current stream or the next timed event, whichever
// comes first, and handles what came.
static void wait_and_take(Session &s, int64_t now, const sigset_t &waitMask) {
    int64_t wake = -1;
    earliest(wake, outbox_next_due(s.out, now));
    if (demo_running(s)) earliest(wake, s.demoNext);
    earliest(wake, s.stopAt);
    earliest(wake, s.finishBy);
    if (s.streamsDoneAt >= 0 && s.opt.linger >= 0) earliest(wake, s.streamsDoneAt + s.opt.linger);
    timespec timeout, *timeoutp = nullptr;
    if (wake >= 0) {
        int64_t wait = wake > now ? wake - now : 0;
        timeout = {time_t(wait / nsPerSecond), long(wait % nsPerSecond)};
        timeoutp = &timeout;
    }

    pollfd fds[2] = {{s.line, POLLIN, 0}, {-1, POLLIN, 0}};
    if (s.out.blocked) fds[0].events |= POLLOUT;
    if (s.source < s.sources.size() && outbox_pending(s.out) < refillBelow)
        fds[1].fd = s.sources[s.source];
    if (ppoll(fds, 2, timeoutp, &waitMask) < 0) {
        if (errno == EINTR) return;
        fail(1, std::string("poll failed: ") + std::strerror(errno));
    }
    now = clock_ns();
    if (fds[0].revents & POLLOUT) s.out.blocked = false;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) take_keys(s, now);
    if (fds[1].revents) take_stream(s);
}

int main(int argc, char **argv) {
    static Session s; // the outbox and the demo are a few kilobytes each
    s.opt = parse_args(argc, argv);

    std::string error;
    s.line = line_open(s.opt.device, error);
    if (s.line < 0) fail(2, error);
    for (const char *path : s.opt.streams)
        s.sources.push_back(open_stream(path));
    if (s.opt.log && !(s.log = std::fopen(s.opt.log, "w")))
        fail(2, std::string("cannot write ") + s.opt.log + ": " + std::strerror(errno));
    s.out.paced = !s.opt.fast;

    // SIGINT and SIGTERM are let through only while waiting in ppoll, so a
    // stop request is never missed between the check and the wait.
    struct sigaction sa = {};
    sa.sa_handler = on_stop_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t stopSignals, waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);

    s.start = clock_ns();
    if (s.opt.duration >= 0) s.stopAt = s.start + s.opt.duration;
    while (!stopRequested) {
        int64_t now = clock_ns();
        if (!outbox_send(s.out, s.line, now, error))
            fail(1, std::string(s.opt.device) + ": " + error);
        // A line that takes nothing more has no one at the far end. The demo
        // talks into the void then, rather than leave stale screens queued
        // for when the program links.
        if (s.demoOn && s.out.blocked) outbox_discard(s.out, s.line);
        if (finished(s, now)) break;
        if (s.opt.demo && s.streamsDoneAt >= 0 && s.finishBy < 0) play_demo(s, now);
        wait_and_take(s, now, waitMask);
    }
    close(s.line);
    if (s.log != stdout) std::fclose(s.log);
    return 0;
}
