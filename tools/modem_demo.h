// A demo session: what the modem shows while it copies Morse and the user
// types. Row 1 is the status line, rows 2-4 the received text, row 5 a rule,
// rows 6-8 the key codes received from the program, echoed as sent text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>

// Display commands made by one call, queued as a whole or not at all.
struct Frame {
    unsigned char bytes[512];
    size_t size = 0;
};

constexpr int RX_ROWS = 3, RX_WIDTH = 20; // scrolling rows 2-4 moves columns 1..20 only
constexpr int TX_ROWS = 3, TX_WIDTH = 21;

struct Demo {
    std::minstd_rand rng{72};
    // Copies of what rows 2-4 and 6-8 show, for the periodic full redraw.
    char rx[RX_ROWS][RX_WIDTH];
    char tx[TX_ROWS][TX_WIDTH];
    int rxRow = 0, rxCol = 0; // next received character goes here (0-based)
    int txRow = 0, txCol = 0;
    int over = 0; // which canned transmission is being received
    int pos = -1; // next character of it; -1 between transmissions
    uint8_t rxWpm = 20, txWpm = 20, signal = 0, status = 0;
    int64_t nextChar = 0, nextMeter = 0, nextRefresh = 0, nextFlash = 0;
    int64_t holdUntil = 0;    // no status redraw while a flash message shows
    int64_t sendingUntil = 0; // the sending mark stays this long after a key
};

// Clears the display and draws the whole screen.
void demo_start(Demo &demo, int64_t now, Frame &out);
// Adds the commands for everything due by `now`; returns when the next event is due.
int64_t demo_step(Demo &demo, int64_t now, Frame &out);
// Echoes one received key code: printable codes as text, Enter as a new line,
// Backspace erases, Tab as a space, any other code as "<XX>" in hex.
void demo_key(Demo &demo, unsigned char code, int64_t now, Frame &out);
