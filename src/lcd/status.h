// The status line on text row 1, the flash message and the display test.
//
// The setters only store; row 1 shows the values at the next showStatusLine.
// gStatus and flashTimer are also written by the window's tick, so they are
// atomic; everything else here belongs to the thread that interprets the stream.
#pragma once
#include <atomic>
#include <cstdint>

extern uint8_t gRxWpm;
extern uint8_t gTxWpm;
extern uint8_t gSigs; // 0..11
extern uint8_t gUser;
extern std::atomic<uint8_t> gStatus;
extern uint8_t gXstatus;
extern char altStatLeft[4];
extern char altStatRight[4];
extern std::atomic<int32_t> flashTimer; // ticks left of the flash message, 0 = none

enum { FLASH_TICKS = 15 };

void set_signal(uint8_t level);
void set_rxWpm(uint8_t wpm);
void set_txWpm(uint8_t wpm);
void set_user(uint8_t user);
void update_status(uint8_t newStatus);

int updateAltLeft();
int updateAltRight();
void showStatusLine();

// The flags the status line shows for these status bits, in screen order and
// as drawn ("<", "g", "ESC", "W", ">" ...); returns how many (at most 6).
enum { STATUS_FLAGS_MAX = 6 };
int status_flags_shown(uint8_t status, uint8_t xstatus, const char *out[STATUS_FLAGS_MAX]);
void flash_status(const char *str);
void displayTest();

// All values back to 0, for tests and fuzzers.
void status_reset();

// One tick of the flash countdown: returns true when it has just expired,
// having cleared the status bits; the caller then repaints.
bool flash_tick();
