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

// One key press or release as a front end without Windows' message kinds
// sees it: virtual key `vk` with Shift, Ctrl and Alt as they are after the
// event (a modifier's own press counts as down, its release as up, whichever
// way the caller reports it). Keys with Alt down and Ctrl up, and F10, take
// the system-key path, as Windows delivers them; system key-ups send nothing.
// Returns the key code to send, 0 for none.
uint8_t key_event(bool press, uint64_t vk, bool shift, bool ctrl, bool alt);

// Back to the program-start state (no chord), for tests.
void keymap_reset();
