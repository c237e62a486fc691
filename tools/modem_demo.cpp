#include "modem_demo.h"

#include <cstring>
#include <initializer_list>

// Display command bytes used here.
enum : unsigned char {
    cmdReset = 0x87,
    cmdChar = 0x8E,
    cmdSignal = 0x93,
    cmdRxSpeed = 0x94,
    cmdTxSpeed = 0x95,
    cmdStatus = 0x96,
    cmdMove = 0x97,
    cmdCursorMode = 0x98,
    cmdScrollRows2to4 = 0x9C,
    cmdShowStatus = 0x9E,
    cmdRedrawStatus = 0xA0,
    cmdFlash = 0xA1,
    cmdPaddedRow = 0xA2,
    cmdAltField = 0xA6,
    cmdUser = 0xA8,
    cmdExtraStatus = 0xB1,
};

// Status bits: '<' beside the receive speed while a station is copied,
// '>' before the send speed while keys are being sent.
constexpr uint8_t statusReceiving = 0x20, statusSending = 0x08;

constexpr int rxTopRow = 2, ruleRow = 5, txTopRow = 6;
constexpr uint8_t user = 1;

constexpr int64_t ms = 1000000;
// The whole screen is sent again this often, for a program that has just linked.
constexpr int64_t refreshPeriod = 4000 * ms;
constexpr int64_t flashHold = 1700 * ms; // the program lets a flash message stand 1.5 s
constexpr int64_t sendingHold = 2000 * ms;

// Transmissions of a made-up contact, copied one after the other.
static const char *const overs[] = {
    "CQ CQ CQ DE Q9ZX Q9ZX K",
    "Q72A DE Q9ZX GM OM TNX FER CALL UR RST 579 579 NAME ANNA QTH RIVERSIDE HW? Q72A DE Q9ZX K",
    "R R FB OM RIG HR 5W ES WIRE ANT WX CLOUDY 12C BK",
    "TNX FER QSO HPE CUAGN 73 Q72A DE Q9ZX SK",
    "VVV VVV QRL? DE Q9ZX",
};
constexpr int overCount = sizeof overs / sizeof overs[0];

static const char *const flashTexts[] = {"QRM!", "QSB ", "AFC ", "LOCK"};

struct MorseCode {
    char ch;
    const char *code;
};
static const MorseCode morse[] = {
    {'A', ".-"},    {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},
    {'F', "..-."},  {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},
    {'K', "-.-"},   {'L', ".-.."},   {'M', "--"},     {'N', "-."},     {'O', "---"},
    {'P', ".--."},  {'Q', "--.-"},   {'R', ".-."},    {'S', "..."},    {'T', "-"},
    {'U', "..-"},   {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},   {'Y', "-.--"},
    {'Z', "--.."},  {'0', "-----"},  {'1', ".----"},  {'2', "..---"},  {'3', "...--"},
    {'4', "....-"}, {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},
    {'9', "----."}, {'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {'/', "-..-."},
    {'=', "-...-"}, {'+', ".-.-."},  {'-', "-....-"},
};

// Time to send one character at `wpm` and the gap after it, in dot units of
// 1.2 s / wpm: a dot is 1, a dash 3, 1 between elements, 3 after a letter.
// A space is the rest of the 7-unit gap between words.
static int64_t char_time(char c, int wpm) {
    int units = 4;
    for (const MorseCode &m : morse)
        if (m.ch == c) {
            units = 3 - 1;
            for (const char *e = m.code; *e; e++)
                units += (*e == '-' ? 3 : 1) + 1;
        }
    return units * (1200 * ms) / wpm;
}

static int random_between(Demo &d, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(d.rng);
}

static void emit(Frame &out, std::initializer_list<unsigned char> bytes) {
    for (unsigned char b : bytes)
        if (out.size < sizeof out.bytes) out.bytes[out.size++] = b;
}

// Row text padded with zeros: the program draws the rest of the row blank.
static void emit_row(Frame &out, int row, const char *text, int width) {
    emit(out, {cmdPaddedRow, uint8_t(row)});
    int n = width;
    while (n > 0 && text[n - 1] == ' ')
        n--;
    for (int col = 0; col < 21; col++)
        emit(out, {uint8_t(col < n ? text[col] : 0)});
}

static void emit_char_at(Frame &out, int col, int row, char c) {
    emit(out, {cmdMove, uint8_t(col + 1), uint8_t(row), cmdChar, uint8_t(c)});
}

// The alternate status fields are switched off, so both speeds show.
static void emit_status(Demo &d, Frame &out) {
    emit(out, {cmdRxSpeed, d.rxWpm, cmdTxSpeed, d.txWpm, cmdSignal, d.signal});
    emit(out, {cmdUser, user, cmdStatus, d.status, cmdExtraStatus, 0});
    emit(out, {cmdAltField, 1, 0, 0, 0, cmdAltField, 2, 0, 0, 0, cmdShowStatus});
}

static void emit_screen(Demo &d, Frame &out) {
    emit(out, {cmdCursorMode, 0});
    emit_status(d, out);
    for (int r = 0; r < RX_ROWS; r++)
        emit_row(out, rxTopRow + r, d.rx[r], RX_WIDTH);
    emit_row(out, ruleRow, "---------------------", 21);
    for (int r = 0; r < TX_ROWS; r++)
        emit_row(out, txTopRow + r, d.tx[r], TX_WIDTH);
}

static void rx_newline(Demo &d, Frame &out) {
    d.rxCol = 0;
    if (d.rxRow < RX_ROWS - 1) {
        d.rxRow++;
        return;
    }
    emit(out, {cmdScrollRows2to4});
    std::memmove(d.rx[0], d.rx[1], sizeof d.rx - sizeof d.rx[0]);
    std::memset(d.rx[RX_ROWS - 1], ' ', RX_WIDTH);
}

static void rx_char(Demo &d, char c, Frame &out) {
    if (c == ' ' && d.rxCol == 0) return; // no blank at the start of a wrapped line
    if (d.rxCol == RX_WIDTH) rx_newline(d, out);
    emit_char_at(out, d.rxCol, rxTopRow + d.rxRow, c);
    d.rx[d.rxRow][d.rxCol++] = c;
}

// The next received character, or the start of the next transmission.
static void receive(Demo &d, int64_t now, Frame &out) {
    const char *text = overs[d.over];
    if (d.pos < 0) {
        if (d.rxCol > 0) rx_newline(d, out);
        d.rxWpm = uint8_t(random_between(d, 16, 24));
        d.status |= statusReceiving;
        d.signal = uint8_t(random_between(d, 6, 9));
        d.pos = 0;
        d.nextChar = now + char_time(text[0], d.rxWpm);
        return;
    }
    rx_char(d, text[d.pos++], out);
    if (text[d.pos] == 0) {
        d.status &= ~statusReceiving;
        d.pos = -1;
        d.over = (d.over + 1) % overCount;
        d.nextChar += random_between(d, 1500, 3500) * ms;
    } else {
        d.nextChar += char_time(text[d.pos], d.rxWpm);
    }
    if (d.nextChar < now)
        d.nextChar = now; // after a stall, go on from here instead of racing to catch up
}

// The meter wanders while a station is heard and sinks to noise between transmissions.
static void update_meter(Demo &d, int64_t now, Frame &out) {
    int level = d.signal + random_between(d, -1, 1);
    int lo = 0, hi = 2;
    if (d.status & statusReceiving) {
        lo = 4;
        hi = 11;
    }
    d.signal = uint8_t(level < lo ? lo : level > hi ? hi : level);
    if (now >= d.sendingUntil) d.status &= ~statusSending;
    emit(out, {cmdSignal, d.signal, cmdStatus, d.status, cmdRedrawStatus});
}

void demo_start(Demo &d, int64_t now, Frame &out) {
    std::memset(d.rx, ' ', sizeof d.rx);
    std::memset(d.tx, ' ', sizeof d.tx);
    emit(out, {cmdReset});
    emit_screen(d, out);
    d.nextChar = now + 1000 * ms;
    d.nextMeter = now + 300 * ms;
    d.nextRefresh = now + refreshPeriod;
    d.nextFlash = now + 8000 * ms;
}

int64_t demo_step(Demo &d, int64_t now, Frame &out) {
    if (now >= d.nextChar) receive(d, now, out);
    if (now >= d.holdUntil) {
        if (now >= d.nextFlash) {
            const char *text = flashTexts[random_between(d, 0, 3)];
            emit(out, {cmdFlash, uint8_t(text[0]), uint8_t(text[1]), uint8_t(text[2]),
                       uint8_t(text[3])});
            d.holdUntil = now + flashHold;
            d.nextFlash = now + random_between(d, 12000, 20000) * ms;
        } else if (now >= d.nextRefresh) {
            emit_screen(d, out);
            d.nextRefresh = now + refreshPeriod;
        } else if (now >= d.nextMeter) {
            update_meter(d, now, out);
            d.nextMeter = now + random_between(d, 250, 400) * ms;
        }
    }
    int64_t next = d.nextChar;
    for (int64_t t : {d.nextFlash, d.nextRefresh, d.nextMeter}) {
        if (t < d.holdUntil) t = d.holdUntil;
        if (t < next) next = t;
    }
    return next;
}

static void tx_newline(Demo &d, Frame &out) {
    d.txCol = 0;
    if (d.txRow < TX_ROWS - 1) {
        d.txRow++;
        return;
    }
    // Rows 6-8 have no scroll command of their own: redraw them one row up.
    std::memmove(d.tx[0], d.tx[1], sizeof d.tx - sizeof d.tx[0]);
    std::memset(d.tx[TX_ROWS - 1], ' ', TX_WIDTH);
    for (int r = 0; r < TX_ROWS; r++)
        emit_row(out, txTopRow + r, d.tx[r], TX_WIDTH);
}

static void tx_char(Demo &d, char c, Frame &out) {
    if (d.txCol == TX_WIDTH) tx_newline(d, out);
    emit_char_at(out, d.txCol, txTopRow + d.txRow, c);
    d.tx[d.txRow][d.txCol++] = c;
}

void demo_key(Demo &d, unsigned char code, int64_t now, Frame &out) {
    d.status |= statusSending;
    d.sendingUntil = now + sendingHold;
    if (code >= 0x20 && code <= 0x7E) {
        tx_char(d, char(code), out);
    } else if (code == 0xEE) { // Tab
        tx_char(d, ' ', out);
    } else if (code == 0xE9) { // Enter
        tx_newline(d, out);
    } else if (code == 0xED) { // Backspace
        if (d.txCol > 0) {
            d.txCol--;
            d.tx[d.txRow][d.txCol] = ' ';
            emit_char_at(out, d.txCol, txTopRow + d.txRow, ' ');
        }
    } else {
        static const char hex[] = "0123456789ABCDEF";
        for (char c : {'<', hex[code >> 4], hex[code & 15], '>'})
            tx_char(d, c, out);
    }
}
