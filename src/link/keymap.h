// Translation of key messages into the modem's one-byte key codes.
//
// The window's key handlers read Shift and Ctrl at message time, call these
// and send a nonzero code while the link is open. Call them whether or not
// the link is open: the Shift+Ctrl chord flag must follow the keys either way.
// System key-ups send nothing and need no call. Window thread only.
#pragma once
#include <cstdint>

// What one key message produces: the key code (0 = nothing to send) and the
// handler's result (0 only for the left Windows key).
struct KeyResult {
    uint8_t code;
    int process;
};

// 1 from the key-down that completes a Shift+Ctrl chord until Shift or Ctrl
// is released; keeps auto-repeat from reporting the chord again.
extern int gCtlShift;

// vk is the message's wParam: named keys match on the whole value, every
// other key is translated from its low byte.
KeyResult key_down(uint64_t vk, bool shift, bool ctrl);
KeyResult key_up(uint64_t vk);
uint8_t sys_key_down(uint64_t vk, bool shift);

// Back to the program-start state (no chord), for tests.
void keymap_reset();
