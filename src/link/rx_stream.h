// Interpreter of the modem's display command stream.
#pragma once
#include <cstddef>
#include <cstdint>

// What a command did to the text of the screen, for a host that tells
// screen readers. Rows are as the command gave them (0 is row 1).
enum RxChange : uint8_t {
    RX_TYPED,      // a character written at the cursor into cell (x, y)
    RX_ROW,        // row y blanked
    RX_SCREEN,     // many cells rewritten at once, row y the highest of them
    RX_STATUS,     // the status line drawn on row 1 from the status values
    RX_FLASH,      // a flash message drawn on row 1
    RX_CURSOR,     // the cursor moved, or was shown or hidden
    RX_SCROLL_OUT, // row y is about to be scrolled out of the top of the scrolling area
};

// How the interpreter reaches its host. The lock guards the map and the
// cursor against a painter on another thread while one byte is interpreted;
// it is released before the repaint request, which the host may serve
// synchronously. `changed` is called under the lock after each change of
// the text. Every hook defaults to doing nothing.
struct RxHost {
    void (*repaint)();
    void (*lock)();
    void (*unlock)();
    void (*changed)(RxChange what, int x, int y);
};

void rx_set_host(const RxHost &host);

// Feeds one received byte (the low 8 bits of lParam); lCmd is unused.
// Always returns 0.
unsigned rx_CallBack(int lCmd, int lParam);

// Feeds bytes that arrived together, in order, and asks for one repaint after
// the last of them if any of their commands completed a visible change. At
// line speed bytes come one or two at a time, so every command is still shown;
// a burst that is already waiting costs one paint instead of one per command.
void rx_feed(const uint8_t *bytes, size_t count);

// The interpreter's current state: 0 idle, 1..34 waiting for an argument.
uint8_t rx_state();

// Back to the program-start state (idle, variables zero), for tests and fuzzers.
void rx_reset();
