// Display command stream: a 35-state machine fed one byte at a time.
#include "link/rx_stream.h"
#include "lcd/lcd.h"
#include "lcd/status.h"

#include <cstring>

static void noHook() {}
static RxHost host = {noHook, noHook, noHook, nullptr};

void rx_set_host(const RxHost &h) {
    host.repaint = h.repaint ? h.repaint : noHook;
    host.lock = h.lock ? h.lock : noHook;
    host.unlock = h.unlock ? h.unlock : noHook;
    host.changed = h.changed; // tested before each call: most hosts have none
}

// Interpreter variables; one command is in progress at a time, so they are shared.
static uint8_t rxState;
static uint8_t i;
static uint8_t b1;
static int eol;
static char strBuf[24];

uint8_t rx_state() {
    return rxState;
}

void rx_reset() {
    rxState = i = b1 = 0;
    eol = 0;
    std::memset(strBuf, 0, sizeof strBuf);
}

static constexpr uint8_t STRBUF_TEXT = sizeof strBuf - 1; // room for the text before its 0

static void noteChange(RxChange what, int y) {
    if (host.changed) host.changed(what, 0, y);
}

// A character at the cursor: the one change a screen reader speaks as it comes.
static void putAtCursor(char c) {
    int x = curX, y = curY;
    lcd_putch(c);
    if (host.changed) host.changed(RX_TYPED, x, y);
}

static void resetScreen() {
    lcd_clear_all();
    flashTimer = 0; // a pending flash must not clear the status bits later
    noteChange(RX_SCREEN, 1);
}
static void clearScreen() {
    lcd_clear_all();
    noteChange(RX_SCREEN, 1);
}
static void displayTestScreen() {
    lcd_clear_all();
    displayTest();
    noteChange(RX_SCREEN, 1);
}
static void statusLine() {
    showStatusLine();
    noteChange(RX_STATUS, 1);
}
static void pageStart() {
    lcd_gotoxy(1, 1);
    i = 0;
}
static void putSpace() {
    putAtCursor(' ');
}
static void scrollUp4() {
    noteChange(RX_SCROLL_OUT, 1);
    lcd_scroll_up(4);
    noteChange(RX_SCREEN, 1);
}
static void scrollDown4() {
    lcd_scroll_down(4);
    noteChange(RX_SCREEN, 1);
}
static void scrollUp3() {
    noteChange(RX_SCROLL_OUT, 2);
    lcd_scroll_up(3);
    noteChange(RX_SCREEN, 2);
}
static void scrollDown3() {
    lcd_scroll_down(3);
    noteChange(RX_SCREEN, 2);
}
static void zeroCount() {
    i = 0;
}

// A command byte received in state 0: what it does at once, the state it
// enters for its arguments, and whether the command byte itself repaints.
struct Command {
    void (*action)();
    uint8_t next;
    bool repaint;
};

static Command commandFor(uint8_t byte) {
    switch (byte) {
    case 0x87: return {resetScreen, 0, true};
    case 0x88: return {nullptr, 1, false};
    case 0x89: return {clearScreen, 0, true};
    case 0x8A: return {nullptr, 2, false};
    case 0x8B: return {pageStart, 3, false};
    case 0x8C: return {nullptr, 4, false};
    case 0x8D: return {nullptr, 8, false};
    case 0x8E: return {nullptr, 10, false};
    case 0x8F: return {nullptr, 11, false};
    case 0x90: return {putSpace, 0, true};
    case 0x91: return {scrollUp4, 0, true};
    case 0x92: return {scrollDown4, 0, true};
    case 0x93: return {nullptr, 12, false};
    case 0x94: return {nullptr, 13, false};
    case 0x95: return {nullptr, 14, false};
    case 0x96: return {nullptr, 16, false};
    case 0x97: return {nullptr, 17, false};
    case 0x98: return {nullptr, 21, false};
    case 0x99: return {nullptr, 22, false};
    case 0x9A: return {nullptr, 24, false};
    case 0x9B: return {nullptr, 26, false};
    case 0x9C: return {scrollUp3, 0, true};
    case 0x9D: return {scrollDown3, 0, true};
    case 0x9E: return {statusLine, 0, true};
    case 0x9F: return {displayTestScreen, 0, true};
    case 0xA0: return {statusLine, 0, true};
    case 0xA1: return {zeroCount, 25, false};
    case 0xA2: return {nullptr, 6, false};
    case 0xA5: return {nullptr, 27, false};
    case 0xA6: return {nullptr, 29, false};
    case 0xA8: return {nullptr, 15, false};
    case 0xA9: return {nullptr, 32, false};
    case 0xAA: return {nullptr, 31, false};
    case 0xB1: return {nullptr, 33, false};
    case 0xB2: return {nullptr, 34, false};
    default: return {nullptr, 0, false}; // text outside a command, or unassigned
    }
}

// Counts one argument byte of a fixed-length command; true when it was the last.
static bool countArgument(uint8_t total) {
    return ++i == total;
}

// Acts on one byte in the current state; returns whether it completed a visible change.
static bool interpret(uint8_t work) {
    uint8_t state = rxState;
    rxState = 0; // every argument state ends its command unless it stays below
    switch (state) {
    case 0: {
        Command cmd = commandFor(work);
        if (cmd.action) cmd.action();
        rxState = cmd.next;
        return cmd.repaint;
    }
    case 1: return false;
    case 2:
        lcd_clear_row(work);
        noteChange(RX_ROW, work);
        return true;
    case 3:
        pageStart();
        rxState = 9;
        return false;
    case 4:
        lcd_gotoxy(1, work);
        i = 0;
        rxState = 5;
        return false;
    case 5:
        lcd_putch((char)work);
        if (countArgument(21)) {
            noteChange(RX_SCREEN, curY);
            return true;
        }
        rxState = 5;
        return false;
    case 6:
        lcd_gotoxy(1, work);
        i = 0;
        eol = 0;
        rxState = 7;
        return false;
    case 7:
        if (work == 0) eol = 1;
        lcd_putch(eol ? ' ' : (char)work);
        if (countArgument(21)) {
            noteChange(RX_SCREEN, curY);
            return true;
        }
        rxState = 7;
        return false;
    case 8:
        if (work == 0) return true;
        putAtCursor((char)work);
        rxState = 8;
        return false;
    case 9:
        lcd_putch((char)work);
        if (countArgument(80)) {
            noteChange(RX_SCREEN, 1);
            return true;
        }
        if (i % 20 == 0) lcd_gotoxy(1, (uint8_t)(i / 20 + 1));
        rxState = 9;
        return false;
    case 10:
    case 11: putAtCursor((char)work); return true;
    case 12: set_signal(work); return false;
    case 13: set_rxWpm(work); return false;
    case 14: set_txWpm(work); return false;
    case 15: set_user(work); return false;
    case 16: update_status(work); return false;
    case 17:
        b1 = work;
        rxState = 18;
        return false;
    case 18:
        lcd_gotoxy(b1, work);
        noteChange(RX_CURSOR, work);
        return true;
    case 21:
        lcd_cursor_mode(work);
        noteChange(RX_CURSOR, curY);
        return true;
    case 22:
        i = 0;
        b1 = work;
        rxState = 23;
        return false;
    case 23:
        // Text beyond what strBuf holds is dropped; the command still waits for its 0.
        if (work == 0) {
            strBuf[i < STRBUF_TEXT ? i : STRBUF_TEXT] = 0;
            lcd_center_text(b1, strBuf);
            noteChange(RX_SCREEN, b1);
            return true;
        }
        if (i < STRBUF_TEXT) strBuf[i++] = (char)work;
        rxState = 23;
        return false;
    case 24:
    case 26: return false;
    case 25:
        strBuf[i] = (char)work;
        if (countArgument(4)) {
            strBuf[4] = 0;
            flash_status(strBuf);
            noteChange(RX_FLASH, 1);
            return true;
        }
        rxState = 25;
        return false;
    case 27:
        i = 0;
        rxState = 28;
        return false;
    case 28:
        if (countArgument(7)) return false;
        rxState = 28;
        return false;
    case 29:
        b1 = work;
        i = 0;
        rxState = 30;
        return false;
    case 30:
        (b1 == 1 ? altStatLeft : altStatRight)[i] = (char)work;
        if (countArgument(3)) return true;
        rxState = 30;
        return false;
    case 31:
    case 32:
    case 34: return false;
    case 33: gXstatus = work; return false;
    default: return false; // states 19 and 20 are never entered
    }
}

void rx_feed(const uint8_t *bytes, size_t count) {
    bool repaint = false;
    for (size_t k = 0; k < count; k++) {
        host.lock();
        repaint |= interpret(bytes[k]);
        host.unlock();
    }
    if (repaint) host.repaint();
}

unsigned rx_CallBack(int lCmd, int lParam) {
    (void)lCmd;
    uint8_t work = (uint8_t)(lParam & 0xFF);
    rx_feed(&work, 1);
    return 0;
}
