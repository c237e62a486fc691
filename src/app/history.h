// The history of the scrolling area: every line the modem's scrolls push out
// of the top of rows 1-4, with the moment it went, so that what was copied is
// not lost when it leaves the LCD. The interpreter feeds it through the change
// hook before the rows move; the front ends only read it.
//
// history_note runs on the thread that interprets the stream, under the map
// lock; every other call takes the same lock around it. The lines are kept in
// a fixed ring, so memory stays the same however long the program runs.
#pragma once
#include "link/rx_stream.h"

#include <cstdint>

enum {
    HISTORY_KEEP = 16384,                    // lines kept; older ones are dropped
    HISTORY_COLS = 20,                       // the scrolls move columns 1-20
    HISTORY_TEXT_MAX = 3 * HISTORY_COLS + 1, // UTF-8 of a line and its zero
    HISTORY_TIME_MAX = 21,                   // "2026-12-08T01:02:03Z" and its zero
    HISTORY_ROWS = 4,                        // rows of the scrolling area
};

struct HistoryLine {
    int64_t time; // seconds since 1970-01-01 UTC
    char text[HISTORY_TEXT_MAX];
};

// The interpreter's change hook feeds this: RX_SCROLL_OUT keeps the row about
// to leave, and the other changes tell whether row 1 shows the status line.
void history_note(RxChange what, int x, int y);

// The clock that stamps new lines, in seconds since 1970 UTC; the system's
// clock unless a test sets another (null puts the system's back).
void history_set_clock(int64_t (*now)());

// Line numbers count every line that ever entered, from 0: the kept ones are
// history_first() .. history_end() - 1.
uint64_t history_first();
uint64_t history_end();

// Copies line `number` to `out`; false when it is not kept (any more).
bool history_line(uint64_t number, HistoryLine &out);

// Copies up to `max` lines, from line `next` on, to `out` and moves `next`
// past them; lines dropped from the ring before they were taken are skipped.
// Returns how many were copied.
int history_take(uint64_t &next, HistoryLine *out, int max);

// The rows of the scrolling area that hold text now, top first, stamped with
// the clock: rows 2-4, and row 1 unless it shows the status line. Returns how
// many (0..4).
int history_on_screen(HistoryLine out[HISTORY_ROWS]);

// `time` as "2026-12-08T01:02:03Z".
void history_time_text(int64_t time, char out[HISTORY_TIME_MAX]);

// One transcript line, "TIME<TAB>TEXT" and `eol`, into `out` (zero-terminated,
// cut to fit); returns its length.
enum { HISTORY_ENTRY_MAX = HISTORY_TIME_MAX + HISTORY_TEXT_MAX + 2 };
int history_entry(const HistoryLine &line, const char *eol, char *out, int size);

// Nothing kept, row 1 read as text, line numbers from 0 again.
void history_reset();
