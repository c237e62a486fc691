#include "app/change_reader.h"
#include "app/history.h"
#include "lcd/status.h"

#include <cstdio>
#include <cstring>

enum {
    SPEED_PACE_MS = 1000, // a speed is told at most this often
    FLASH_COLUMN = 12,    // where the flash message stands on row 1
    FLASH_CELLS = 4,
};

// One event as noted: typed cells by their place, read at the take, when the
// view they are offsets into is known.
struct Noted {
    SpeechKind kind;
    int x, y, count;
    char text[SPEECH_TEXT_MAX]; // ANNOUNCE
};

// The status values as the status line last drew them.
struct Drawn {
    uint8_t rxWpm, txWpm, sigs, user, status, xstatus;
    char altLeft[4], altRight[4];
};

static Noted queue[SPEECH_QUEUE];
static int queued;
static bool flooded;      // the queue overflowed: queue[0] is one whole-screen change
static bool dirty = true; // the view is behind the screen
// The cells' codes as last told, [row][column]: what typed cells read before.
static uint8_t told[LCD_ROWS][LCD_COLS];

static bool row1Status; // row 1 shows the status line, read as words
static bool everDrawn;  // a status line has been drawn: speeds and flags have a baseline
static Drawn drawn;
static bool flashShown;
static char flash[FLASH_CELLS + 1];

static constexpr int64_t NEVER = INT64_MIN / 2; // long enough ago for any pace
static int toldRx, toldTx;                      // the speeds last told (or the baseline)
static int64_t toldRxAt = NEVER, toldTxAt = NEVER;

void change_reader_reset() {
    queued = 0;
    flooded = false;
    dirty = true;
    std::memset(told, ' ', sizeof told);
    row1Status = everDrawn = flashShown = false;
    drawn = {};
    flash[0] = 0;
    toldRx = toldTx = 0;
    toldRxAt = toldTxAt = NEVER;
}

static Noted *last() {
    return queued ? &queue[queued - 1] : nullptr;
}

// A full queue becomes one whole-screen change until the next take: a burst
// that long is no longer worth speaking character by character. Only
// announcements still queue behind it.
static Noted *push(SpeechKind kind) {
    if (flooded && (kind != SPEECH_ANNOUNCE || queued == SPEECH_QUEUE)) return &queue[0];
    if (queued == SPEECH_QUEUE) {
        flooded = true;
        queued = 0;
        kind = SPEECH_SCREEN;
    }
    Noted *n = &queue[queued++];
    n->kind = kind;
    n->count = 0;
    return n;
}

// A change with nothing to speak; a whole-screen change already covers it.
static void pushQuiet() {
    Noted *prev = last();
    if (prev && (prev->kind == SPEECH_QUIET || prev->kind == SPEECH_SCREEN)) return;
    push(SPEECH_QUIET);
}

static void pushScreen() {
    Noted *prev = last();
    if (prev && prev->kind == SPEECH_SCREEN) return;
    if (prev && prev->kind == SPEECH_QUIET) queued--; // told by the whole-screen change
    push(SPEECH_SCREEN);
}

// Appends `text` to the string in `out` (`size` bytes in all), cut short to
// fit as snprintf would cut it. Notes come with the interpreter's every
// command: they keep clear of snprintf's cost.
static void append(char *out, size_t size, const char *text) {
    size_t used = std::strlen(out), length = std::strlen(text);
    if (length > size - 1 - used) length = size - 1 - used;
    std::memcpy(out + used, text, length);
    out[used + length] = 0;
}

static void announce(const char *words) {
    Noted *n = push(SPEECH_ANNOUNCE);
    if (n->kind != SPEECH_ANNOUNCE) return;
    n->text[0] = 0;
    append(n->text, sizeof n->text, words);
}

static void rowOneRewritten() {
    row1Status = false;
    flashShown = false;
}

static void typed(int x, int y) {
    if (x < 1 || x > LCD_COLS || y < 1 || y > LCD_ROWS) return; // drawn nowhere
    if (y == 1 && row1Status) {
        // Row 1 goes from words to cells: its whole line changes.
        rowOneRewritten();
        pushQuiet();
        return;
    }
    Noted *prev = last();
    if (!(prev && prev->kind == SPEECH_TYPED && prev->y == y && prev->x + prev->count == x)) {
        prev = push(SPEECH_TYPED);
        if (prev->kind != SPEECH_TYPED) return;
        prev->x = x;
        prev->y = y;
    }
    prev->count++;
}

// Words of the flags in `now` that are not in `then`, then of those gone,
// joined: "ESC, W off".
static void announceFlags(const Drawn &then, const Drawn &now) {
    const char *was[STATUS_FLAGS_MAX], *is[STATUS_FLAGS_MAX];
    int wasCount = status_flags_shown(then.status, then.xstatus, was);
    int isCount = status_flags_shown(now.status, now.xstatus, is);
    char words[SPEECH_TEXT_MAX] = "";
    auto add = [&](const char *flag, const char *suffix, const char *const *among, int count) {
        for (int k = 0; k < count; k++)
            if (std::strcmp(among[k], flag) == 0) return;
        if (words[0]) append(words, sizeof words, ", ");
        append(words, sizeof words, flag);
        append(words, sizeof words, suffix);
    };
    for (int k = 0; k < isCount; k++)
        add(is[k], "", was, wasCount);
    for (int k = 0; k < wasCount; k++)
        add(was[k], " off", is, isCount);
    if (words[0]) announce(words);
}

static void statusDrawn() {
    Drawn now = {gRxWpm, gTxWpm, gSigs, gUser, gStatus.load(), gXstatus, {}, {}};
    std::memcpy(now.altLeft, altStatLeft, sizeof now.altLeft);
    std::memcpy(now.altRight, altStatRight, sizeof now.altRight);
    if (everDrawn) {
        announceFlags(drawn, now);
    } else {
        toldRx = now.rxWpm;
        toldTx = now.txWpm;
    }
    everDrawn = true;
    drawn = now;
    row1Status = true;
    flashShown = false;
    pushQuiet();
}

static void flashDrawn() {
    char text[FLASH_CELLS + 1];
    int length = 0;
    for (int k = 0; k < FLASH_CELLS; k++) {
        uint32_t ch = cell_char(lcd_cell_code(FLASH_COLUMN + k, 1));
        text[k] = ch < 0x80 ? (char)ch : ' ';
        if (text[k] != ' ') length = k + 1;
    }
    text[length] = 0;
    if (length && (!flashShown || std::strcmp(text, flash) != 0)) announce(text);
    std::memcpy(flash, text, sizeof flash);
    flashShown = true;
    pushQuiet();
}

void change_reader_note(RxChange what, int x, int y) {
    history_note(what, x, y);
    if (what == RX_SCROLL_OUT) return; // the scroll itself follows as a screen change
    dirty = true;
    // The common case first: one more character after those just typed.
    Noted *prev = queued && !flooded ? &queue[queued - 1] : nullptr;
    if (what == RX_TYPED && prev && prev->kind == SPEECH_TYPED && prev->y == y &&
        prev->x + prev->count == x && x <= LCD_COLS) {
        prev->count++;
        return;
    }
    switch (what) {
    case RX_TYPED: typed(x, y); break;
    case RX_ROW:
    case RX_SCREEN:
        if (y > LCD_ROWS) break; // off the grid: nothing was drawn
        if (y <= 1) rowOneRewritten();
        if (what == RX_ROW)
            pushQuiet();
        else
            pushScreen();
        break;
    case RX_STATUS: statusDrawn(); break;
    case RX_FLASH: flashDrawn(); break;
    case RX_CURSOR: break; // the caret follows in the view
    case RX_SCROLL_OUT: break;
    }
}

void change_reader_link(LinkState state) {
    announce(link_state_text(state));
}

// An alternate field as words: its printable characters, trimmed.
static void fieldWords(const char field[4], char out[5]) {
    int length = 0;
    for (int k = 0; k < 4; k++) {
        unsigned char c = (unsigned char)field[k];
        out[k] = c > ' ' && c < 127 ? (char)c : ' ';
        if (out[k] != ' ') length = k + 1;
    }
    out[length] = 0;
}

// "RX 16, TX 20, signal 5, user 1, ESC": the values the status line was drawn
// from, then the flash message while it stands there.
static void rowOneWords(char out[ROW1_WORDS_MAX]) {
    char left[5], right[5];
    fieldWords(drawn.altLeft, left);
    fieldWords(drawn.altRight, right);
    int used = drawn.altLeft[0] ? std::snprintf(out, ROW1_WORDS_MAX, "%s, ", left)
                                : std::snprintf(out, ROW1_WORDS_MAX, "RX %u, ", drawn.rxWpm);
    used += drawn.altRight[0]
                ? std::snprintf(out + used, ROW1_WORDS_MAX - used, "%s, ", right)
                : std::snprintf(out + used, ROW1_WORDS_MAX - used, "TX %u, ", drawn.txWpm);
    used += std::snprintf(out + used, ROW1_WORDS_MAX - used, "signal %u", drawn.sigs);
    if (drawn.user >= 1 && drawn.user <= 4)
        used += std::snprintf(out + used, ROW1_WORDS_MAX - used, ", user %u", drawn.user);
    const char *flags[STATUS_FLAGS_MAX];
    int count = status_flags_shown(drawn.status, drawn.xstatus, flags);
    for (int k = 0; k < count; k++)
        used += std::snprintf(out + used, ROW1_WORDS_MAX - used, ", %s", flags[k]);
    if (flashShown && flash[0]) std::snprintf(out + used, ROW1_WORDS_MAX - used, ", %s", flash);
}

// Cells x .. x + count - 1 of row y as they were told and as they read now;
// from now on they count as told.
static void typedText(const Noted &n, char removed[SPEECH_TEXT_MAX], char text[SPEECH_TEXT_MAX]) {
    int before = 0, after = 0;
    for (int x = n.x; x < n.x + n.count; x++) {
        uint8_t &was = told[n.y - 1][x - 1];
        uint8_t now = lcd_cell_code(x, n.y);
        before += utf8_put(cell_char(was), removed + before);
        after += utf8_put(cell_char(now), text + after);
        was = now;
    }
    removed[before] = 0;
    text[after] = 0;
}

// A speed that differs from the one last told is told once the pace allows.
static bool speedDue(int now, int &told, int64_t &toldAt, int64_t nowMs) {
    if (!everDrawn || now == told || nowMs - toldAt < SPEED_PACE_MS) return false;
    told = now;
    toldAt = nowMs;
    return true;
}

int change_reader_take(Speech out[SPEECH_MAX], TextView &view, int64_t nowMs) {
    if (dirty) {
        char words[ROW1_WORDS_MAX];
        if (row1Status) rowOneWords(words);
        text_view_build(view, row1Status ? words : nullptr);
        dirty = false;
    }
    int count = 0;
    for (int k = 0; k < queued; k++) {
        const Noted &n = queue[k];
        Speech &s = out[count++];
        s.kind = n.kind;
        s.offset = s.count = 0;
        s.removed[0] = 0;
        s.text[0] = 0;
        if (n.kind == SPEECH_SCREEN) std::snprintf(s.text, sizeof s.text, "screen changed");
        if (n.kind == SPEECH_ANNOUNCE) std::memcpy(s.text, n.text, sizeof s.text);
        if (n.kind != SPEECH_TYPED) continue;
        if (n.y == 1 && row1Status) {
            // Typed into row 1 before a status line took it over again.
            s.kind = SPEECH_QUIET;
            continue;
        }
        s.offset = text_view_offset(view, n.x, n.y);
        s.count = n.count;
        typedText(n, s.removed, s.text);
    }
    queued = 0;
    for (int y = 1; y <= LCD_ROWS; y++)
        for (int x = 1; x <= LCD_COLS; x++)
            told[y - 1][x - 1] = lcd_cell_code(x, y);
    flooded = false;
    bool rxDue = speedDue(drawn.rxWpm, toldRx, toldRxAt, nowMs);
    bool txDue = speedDue(drawn.txWpm, toldTx, toldTxAt, nowMs);
    for (int k = 0; k < 2; k++) {
        if (!(k == 0 ? rxDue : txDue)) continue;
        Speech &s = out[count++];
        s = {};
        s.kind = SPEECH_ANNOUNCE;
        std::snprintf(s.text, sizeof s.text, "%s %u", k == 0 ? "RX" : "TX",
                      k == 0 ? drawn.rxWpm : drawn.txWpm);
    }
    return count;
}
