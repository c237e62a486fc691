#include "app/change_reader.h"
#include "app/history.h"
#include "lcd/status.h"

#include <cstdio>
#include <cstring>

enum {
    SPEED_PACE_MS = 1000, // a speed is told at most this often
    PAUSE_MS = 1000,      // held characters with nothing written after them this long are told
    HELD_MAX = 4,         // runs held at once: the received text, the echo of keys ...
    FLASH_COLUMN = 12,    // where the flash message stands on row 1
    FLASH_CELLS = 4,
    // A new screen is told once no other has come for this long: at line
    // speed a page or a menu takes a tenth of a second to draw, and every take
    // within it would otherwise tell a fragment.
    SCREEN_SETTLE_MS = 200,
};

// Characters written at the cursor side by side on one row, not told yet:
// the cells' codes before and after, taken as they were written.
struct Run {
    int x, y, count;
    uint8_t was[LCD_COLS], now[LCD_COLS];
    int64_t grewAt; // the take's clock when it last grew; GREW_NOW: since the last take
};

// One event as noted; typed cells are told by their place, whose offset in
// the view is known at the take.
struct Noted {
    SpeechKind kind;
    int x, y, count;
    uint8_t was[LCD_COLS], now[LCD_COLS]; // TYPED
    char text[SPEECH_TEXT_MAX];           // ANNOUNCE
    bool alert;
};

// The status values as the status line last drew them.
struct Drawn {
    uint8_t rxWpm, txWpm, sigs, user, status, xstatus;
    char altLeft[4], altRight[4];
};

static constexpr int64_t GREW_NOW = INT64_MIN;
static constexpr int64_t NEVER = INT64_MIN / 2; // long enough ago for any pace

static Noted queue[SPEECH_QUEUE];
static int queued;
static bool flooded;      // the queue overflowed: queue[0] is one new screen
static bool dirty = true; // the view is behind the screen
static Run held[HELD_MAX];
static int heldCount;
static int growing = -1; // the run the last character joined; -1 none since a release
static bool fullHeld;    // a held run reached the row's end
static int caret;        // the caret as last told

// The cells as the changes noted so far left them (and, at each take, as the
// screen shows them): a new screen is what differs from these, and a typed
// cell's old code is read here.
static uint8_t cells[LCD_ROWS][LCD_COLS];
// The rows a new screen brought since it was last told, as they read then.
static unsigned newRows;
static uint8_t newCodes[LCD_ROWS][LCD_COLS];
static int64_t screenAt = NEVER; // the take that last saw a new screen; NEVER: none to tell
static bool screenWhole;         // the screen to tell came in a flood: every row as it reads

static bool row1Status; // row 1 shows the status line, read as words
static bool everDrawn;  // a status line has been drawn: speeds and flags have a baseline
static Drawn drawn;
static bool flashShown;
static char flash[FLASH_CELLS + 1];

static int toldRx, toldTx; // the speeds last told (or the baseline)
static int64_t toldRxAt = NEVER, toldTxAt = NEVER;

static void takeCells() {
    lcd_cell_codes(cells);
}

// What one row shows now, for a change that touched that row only.
static void takeRow(int y) {
    for (int x = 1; x <= LCD_COLS; x++)
        cells[y - 1][x - 1] = lcd_cell_code(x, y);
}

void change_reader_reset() {
    queued = heldCount = 0;
    growing = -1;
    fullHeld = false;
    flooded = false;
    dirty = true;
    caret = 0;
    takeCells();
    newRows = 0;
    screenAt = NEVER;
    screenWhole = false;
    row1Status = everDrawn = flashShown = false;
    drawn = {};
    flash[0] = 0;
    toldRx = toldTx = 0;
    toldRxAt = toldTxAt = NEVER;
}

static Noted *last() {
    return queued ? &queue[queued - 1] : nullptr;
}

// A full queue becomes one new screen, the whole of it, until the next take:
// a burst that long is no longer worth telling word by word. Only
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
    n->alert = false;
    return n;
}

// A change with nothing to tell; a new screen already covers it.
static void pushQuiet() {
    Noted *prev = last();
    if (prev && (prev->kind == SPEECH_QUIET || prev->kind == SPEECH_SCREEN)) return;
    push(SPEECH_QUIET);
}

// One new screen a take: the rows it brought are gathered in newRows.
static void pushScreen() {
    for (int k = 0; k < queued; k++)
        if (queue[k].kind == SPEECH_SCREEN) return;
    Noted *prev = last();
    if (prev && prev->kind == SPEECH_QUIET) queued--; // told by the new screen
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

static void announce(const char *words, bool alert) {
    Noted *n = push(SPEECH_ANNOUNCE);
    if (n->kind != SPEECH_ANNOUNCE) return;
    n->text[0] = 0;
    n->alert = alert;
    append(n->text, sizeof n->text, words);
}

static void rowOneRewritten() {
    row1Status = false;
    flashShown = false;
}

// ---- Characters at the cursor, held until their word is whole ----

// Tells held runs 0..k, oldest first, so that what was written is told in
// the order it came.
static void release(int k) {
    for (int j = 0; j <= k; j++) {
        const Run &run = held[j];
        Noted *n = push(SPEECH_TYPED);
        if (n->kind != SPEECH_TYPED) continue;
        n->x = run.x;
        n->y = run.y;
        n->count = run.count;
        std::memcpy(n->was, run.was, (size_t)run.count);
        std::memcpy(n->now, run.now, (size_t)run.count);
    }
    heldCount -= k + 1;
    std::memmove(&held[0], &held[k + 1], sizeof held[0] * (size_t)heldCount);
    growing = -1;
}

static void releaseAll() {
    if (heldCount) release(heldCount - 1);
}

static bool isDigit(uint8_t code) {
    return code >= '0' && code <= '9';
}

static bool isBlank(uint8_t code) {
    return code == ' ' || ((code < ' ' || code > '~') && cell_char(code) == ' ');
}

// A word ends at a space: the run is told up to there once it holds
// something besides digits and spaces.
static void wordEnded(int k) {
    const Run &run = held[k];
    for (int j = 0; j < run.count; j++)
        if (!isDigit(run.now[j]) && !isBlank(run.now[j])) {
            release(k);
            return;
        }
}

static void grow(int k, int x, int y) {
    Run &run = held[k];
    uint8_t &cell = cells[y - 1][x - 1];
    run.was[run.count] = cell;
    cell = lcd_cell_code(x, y);
    run.now[run.count++] = cell;
    run.grewAt = GREW_NOW;
    growing = k;
    if (x == LCD_COLS) fullHeld = true;
    if (isBlank(cell)) wordEnded(k);
}

static void typed(int x, int y) {
    // The common case first: one more character after the last one.
    if (growing >= 0 && !fullHeld && x <= LCD_COLS && held[growing].y == y &&
        held[growing].x + held[growing].count == x) {
        grow(growing, x, y);
        return;
    }
    if (x < 1 || x > LCD_COLS || y < 1 || y > LCD_ROWS) return; // drawn nowhere
    if (y == 1) rowOneRewritten();                              // row 1 goes from words to cells
    // A run that reached the row's end can grow no more.
    for (int k = heldCount - 1; fullHeld && k >= 0; k--)
        if (held[k].x + held[k].count > LCD_COLS) release(k);
    fullHeld = false;
    int k = 0;
    while (k < heldCount && !(held[k].y == y && held[k].x + held[k].count == x))
        k++;
    if (k == heldCount) {
        if (heldCount == HELD_MAX) {
            release(0);
            k--;
        }
        heldCount++;
        held[k].x = x;
        held[k].y = y;
        held[k].count = 0;
    }
    grow(k, x, y);
}

// ---- New screens, the status line and the flash message ----

// A row's text without the blanks around it.
static void rowText(const uint8_t *row, char out[3 * LCD_COLS + 1]) {
    int bytes = 0, end = 0;
    for (int x = 0; x < LCD_COLS; x++) {
        uint32_t ch = cell_char(row[x]);
        if (ch == ' ' && !bytes) continue;
        bytes += utf8_put(ch, out + bytes);
        if (ch != ' ') end = bytes;
    }
    out[end] = 0;
}

static bool blankRow(const uint8_t *row) {
    for (int x = 0; x < LCD_COLS; x++)
        if (!isBlank(row[x])) return false;
    return true;
}

// Rows rewritten at once: those that now read a text the screen did not show
// before, anywhere, are new; a scroll or a redraw of the same rows brings
// nothing. What was held is told first: the screen may move it.
static void screenChanged(int y) {
    releaseAll();
    if (y <= 1) rowOneRewritten();
    static uint8_t now[LCD_ROWS][LCD_COLS]; // static: notes keep their stack small
    lcd_cell_codes(now);
    bool brought = false;
    for (int row = row1Status ? 2 : 1; row <= LCD_ROWS; row++) {
        const uint8_t *line = now[row - 1];
        if (std::memcmp(line, cells[row - 1], LCD_COLS) == 0) continue;
        unsigned bit = 1u << (row - 1);
        newRows &= ~bit;
        bool shown = blankRow(line);
        for (int other = 0; other < LCD_ROWS && !shown; other++)
            shown = std::memcmp(line, cells[other], LCD_COLS) == 0;
        if (shown) continue;
        newRows |= bit;
        brought = true;
        std::memcpy(newCodes[row - 1], line, LCD_COLS);
    }
    std::memcpy(cells, now, sizeof cells);
    if (brought)
        pushScreen();
    else
        pushQuiet();
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
    if (words[0]) announce(words, false);
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
    if (length && (!flashShown || std::strcmp(text, flash) != 0)) announce(text, true);
    std::memcpy(flash, text, sizeof flash);
    flashShown = true;
    pushQuiet();
}

void change_reader_note(RxChange what, int x, int y) {
    history_note(what, x, y);
    if (what == RX_SCROLL_OUT) return; // the scroll itself follows as a screen change
    dirty = true;
    switch (what) {
    case RX_TYPED: typed(x, y); break;
    case RX_ROW:
        if (y > LCD_ROWS) break; // off the grid: nothing was drawn
        if (y <= 1) rowOneRewritten();
        if (y >= 1)
            takeRow(y);
        else
            takeCells(); // row 0: wherever the LCD drew it
        pushQuiet();
        break;
    case RX_SCREEN:
        if (y <= LCD_ROWS) screenChanged(y);
        break;
    case RX_STATUS:
        takeRow(1);
        statusDrawn();
        break;
    case RX_FLASH:
        takeRow(1);
        flashDrawn();
        break;
    case RX_CURSOR: break; // the caret follows in the view
    case RX_SCROLL_OUT: break;
    }
}

void change_reader_link(LinkState state) {
    announce(link_state_text(state), true);
}

// ---- The take ----

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

static int codesText(const uint8_t *codes, int count, char out[SPEECH_TEXT_MAX]) {
    int bytes = 0;
    for (int k = 0; k < count; k++)
        bytes += utf8_put(cell_char(codes[k]), out + bytes);
    out[bytes] = 0;
    return bytes;
}

// A speed that differs from the one last told is told once the pace allows.
static bool speedDue(int now, int &told, int64_t &toldAt, int64_t nowMs) {
    if (!everDrawn || now == told || nowMs - toldAt < SPEED_PACE_MS) return false;
    told = now;
    toldAt = nowMs;
    return true;
}

// Runs with nothing written after them for a pause are told, oldest first;
// the others start their pause now.
static void pauseOver(int64_t nowMs) {
    while (heldCount && held[0].grewAt != GREW_NOW && nowMs - held[0].grewAt >= PAUSE_MS)
        release(0);
    for (int k = 0; k < heldCount; k++)
        if (held[k].grewAt == GREW_NOW) held[k].grewAt = nowMs;
}

// The new screen's rows top to bottom, as they read when they came (the
// status line may have been drawn over row 1 since); after a flood, every row
// as it reads now.
static void screenText(TextView &view) {
    for (int row = 1; row <= LCD_ROWS; row++) {
        char text[3 * LCD_COLS + 1];
        if (screenWhole && !(row == 1 && row1Status))
            rowText(cells[row - 1], text);
        else if (!screenWhole && newRows & 1u << (row - 1))
            rowText(newCodes[row - 1], text);
        else
            continue;
        if (!text[0]) continue;
        if (view.screen[0]) append(view.screen, sizeof view.screen, "\n");
        append(view.screen, sizeof view.screen, text);
    }
    newRows = 0;
    screenWhole = false;
}

int change_reader_take(Speech out[SPEECH_MAX], TextView &view, int64_t nowMs) {
    pauseOver(nowMs);
    if (dirty) {
        char words[ROW1_WORDS_MAX];
        if (row1Status) rowOneWords(words);
        text_view_build(view, row1Status ? words : nullptr);
        dirty = false;
    }
    int count = 0;
    for (int k = 0; k < queued; k++) {
        const Noted &n = queue[k];
        if (n.kind == SPEECH_SCREEN) { // told below, once it has settled
            screenAt = nowMs;
            screenWhole |= flooded;
            continue;
        }
        Speech &s = out[count++];
        s.kind = n.kind;
        s.offset = s.count = 0;
        s.removed[0] = s.text[0] = 0;
        s.alert = n.alert;
        if (n.kind == SPEECH_ANNOUNCE) std::memcpy(s.text, n.text, sizeof s.text);
        if (n.kind != SPEECH_TYPED) continue;
        s.offset = text_view_offset(view, n.x, n.y);
        s.count = n.count;
        codesText(n.was, n.count, s.removed);
        codesText(n.now, n.count, s.text);
        caret = text_view_offset(view, n.x + n.count, n.y);
    }
    view.screen[0] = 0;
    if (screenAt != NEVER && nowMs - screenAt >= SCREEN_SETTLE_MS) {
        screenText(view);
        screenAt = NEVER;
    }
    if (view.screen[0]) { // rows written over again since may have left nothing new
        Speech &s = out[count++];
        s = {};
        s.kind = SPEECH_SCREEN;
        std::snprintf(s.text, sizeof s.text, "screen changed");
    }
    if (!heldCount) caret = text_view_offset(view, curX, curY);
    view.caret = caret;
    queued = 0;
    flooded = false;
    // What changed with no note (the start-up screen, a flash expired) is taken
    // in, but not the half of a command still being drawn: its own note
    // compares what it brings with what was there before it began.
    if (rx_state() == 0) takeCells();
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
