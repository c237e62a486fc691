#include "app/history.h"
#include "app/text_view.h"
#include "lcd/lcd.h"

#include <cstring>
#include <ctime>
#include <initializer_list>

static HistoryLine ring[HISTORY_KEEP];
static uint64_t entered; // lines ever entered; the newest is entered - 1
static bool row1Status;  // row 1 shows the status line (or a flash) and nothing written since

static int64_t systemClock() {
    return (int64_t)std::time(nullptr);
}
static int64_t (*clockNow)() = systemClock;

void history_set_clock(int64_t (*now)()) {
    clockNow = now ? now : systemClock;
}

// Columns 1-20 of row y as text, trailing blanks dropped; false when blank.
static bool readRow(int y, HistoryLine &out) {
    int bytes = 0, kept = 0;
    for (int x = 1; x <= HISTORY_COLS; x++) {
        uint32_t ch = cell_char(lcd_cell_code(x, y));
        bytes += utf8_put(ch, out.text + bytes);
        if (ch != ' ') kept = bytes;
    }
    out.text[kept] = 0;
    out.time = clockNow();
    return kept > 0;
}

void history_note(RxChange what, int x, int y) {
    (void)x;
    switch (what) {
    case RX_SCROLL_OUT:
        if (y == 1 && row1Status) break;
        if (readRow(y, ring[entered % HISTORY_KEEP])) entered++;
        break;
    case RX_STATUS:
    case RX_FLASH: row1Status = true; break;
    case RX_TYPED:
    case RX_ROW:
    case RX_SCREEN:
        if (y <= 1) row1Status = false;
        break;
    case RX_CURSOR: break;
    }
}

uint64_t history_first() {
    return entered > HISTORY_KEEP ? entered - HISTORY_KEEP : 0;
}

uint64_t history_end() {
    return entered;
}

bool history_line(uint64_t number, HistoryLine &out) {
    if (number < history_first() || number >= entered) return false;
    out = ring[number % HISTORY_KEEP];
    return true;
}

int history_take(uint64_t &next, HistoryLine *out, int max) {
    if (next < history_first()) next = history_first();
    int count = 0;
    while (count < max && next < entered)
        out[count++] = ring[next++ % HISTORY_KEEP];
    return count;
}

int history_on_screen(HistoryLine out[HISTORY_ROWS]) {
    int count = 0;
    for (int y = row1Status ? 2 : 1; y <= HISTORY_ROWS; y++)
        if (readRow(y, out[count])) count++;
    return count;
}

// Days since 1970-01-01 to a civil date, in the proleptic Gregorian calendar;
// gmtime is neither thread-safe nor the same call everywhere.
static void civilDate(int64_t days, int &year, int &month, int &day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t mp = (5 * dayOfYear + 2) / 153;
    day = (int)(dayOfYear - (153 * mp + 2) / 5 + 1);
    month = (int)(mp < 10 ? mp + 3 : mp - 9);
    year = (int)(yearOfEra + era * 400 + (month <= 2));
}

static void putDigits(char *out, int value, int width) {
    for (int k = width - 1; k >= 0; k--, value /= 10)
        out[k] = (char)('0' + value % 10);
}

void history_time_text(int64_t time, char out[HISTORY_TIME_MAX]) {
    int64_t days = (time >= 0 ? time : time - 86399) / 86400;
    int64_t second = time - days * 86400;
    int year, month, day;
    civilDate(days, year, month, day);
    if (year < 0 || year > 9999) year = 0; // out of range of the format: never from a real clock
    std::memcpy(out, "0000-00-00T00:00:00Z", HISTORY_TIME_MAX);
    putDigits(out, year, 4);
    putDigits(out + 5, month, 2);
    putDigits(out + 8, day, 2);
    putDigits(out + 11, (int)(second / 3600), 2);
    putDigits(out + 14, (int)(second / 60 % 60), 2);
    putDigits(out + 17, (int)(second % 60), 2);
}

int history_entry(const HistoryLine &line, const char *eol, char *out, int size) {
    if (size <= 0) return 0;
    char time[HISTORY_TIME_MAX];
    history_time_text(line.time, time);
    int length = 0;
    for (const char *part : {(const char *)time, "\t", (const char *)line.text, eol}) {
        int n = (int)std::strlen(part);
        if (n > size - 1 - length) n = size - 1 - length;
        std::memcpy(out + length, part, n);
        length += n;
    }
    out[length] = 0;
    return length;
}

void history_reset() {
    entered = 0;
    row1Status = false;
}
