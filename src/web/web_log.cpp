#include "web/web_log.h"

#include <glib.h>

#include <cstdio>
#include <cstring>

enum : gint64 {
    SHOWN = 3,                       // lines of the same refusal before they are counted
    WINDOW_US = 10 * G_USEC_PER_SEC, // counted this long, then summed up
    KEPT = 16,                       // refusals followed at once; more share one entry
};

// A refusal seen lately: from where, why, since when, how often.
struct Seen {
    char address[64], reason[128];
    gint64 since;
    long count;
};

static Seen seen[KEPT + 1]; // the last one: all refusals the others have no room for
static int used;
static guint timer;

// The count with thousands set apart, as people read it.
static void group(long count, char (&out)[32]) {
    char digits[24];
    int n = std::snprintf(digits, sizeof digits, "%ld", count), at = 0;
    for (int i = 0; i < n; i++) {
        if (i && (n - i) % 3 == 0) out[at++] = ',';
        out[at++] = digits[i];
    }
    out[at] = 0;
}

static void print(const char *address, const char *reason) {
    std::fprintf(stderr, "q72display: refused %s: %s\n", address, reason);
}

// Sums up the refusals whose 10 s are over and forgets them.
static gboolean sumUp(gpointer) {
    gint64 now = g_get_monotonic_time();
    int kept = 0;
    for (int i = 0; i < used; i++) {
        Seen &s = seen[i];
        if (now - s.since < WINDOW_US) {
            seen[kept++] = s;
            continue;
        }
        if (s.count <= SHOWN) continue;
        char more[32];
        group(s.count - SHOWN, more);
        std::fprintf(stderr, "q72display: refused %s: %s, %s more time%s in 10 s\n", s.address,
                     s.reason, more, s.count - SHOWN == 1 ? "" : "s");
    }
    used = kept;
    Seen &rest = seen[KEPT];
    if (rest.count && now - rest.since >= WINDOW_US) {
        char times[32];
        group(rest.count, times);
        std::fprintf(stderr, "q72display: refused %s more from other addresses in 10 s\n", times);
        rest.count = 0;
    }
    if (used || rest.count) return G_SOURCE_CONTINUE;
    timer = 0;
    return G_SOURCE_REMOVE;
}

void web_log_refusal(const char *address, const char *reason) {
    if (!address) address = "?";
    gint64 now = g_get_monotonic_time();
    int i = 0;
    while (i < used &&
           (std::strcmp(seen[i].address, address) != 0 || std::strcmp(seen[i].reason, reason) != 0))
        i++;
    if (!timer) timer = g_timeout_add_seconds(1, sumUp, nullptr);
    if (i == used && used == KEPT) {
        Seen &rest = seen[KEPT];
        if (!rest.count) rest.since = now;
        rest.count++;
        return;
    }
    if (i == used) {
        seen[used++] = {"", "", now, 0};
        g_strlcpy(seen[i].address, address, sizeof seen[i].address);
        g_strlcpy(seen[i].reason, reason, sizeof seen[i].reason);
    }
    if (++seen[i].count <= SHOWN) print(address, reason);
}
