// Interpreter of the modem's display command stream.
#pragma once
#include <cstdint>

// How the interpreter reaches its host. The lock guards the map and the
// cursor against a painter on another thread while one byte is interpreted;
// it is released before the repaint request, which the host may serve
// synchronously. Every hook defaults to doing nothing.
struct RxHost {
    void (*repaint)();
    void (*lock)();
    void (*unlock)();
};

void rx_set_host(const RxHost &host);

// Feeds one received byte (the low 8 bits of lParam); lCmd is unused.
// Always returns 0.
unsigned rx_CallBack(int lCmd, int lParam);

// The interpreter's current state: 0 idle, 1..34 waiting for an argument.
uint8_t rx_state();

// Back to the program-start state (idle, variables zero), for tests and fuzzers.
void rx_reset();
