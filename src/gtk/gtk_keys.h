// Key events of the main window: GDK key events become the Windows virtual-key
// codes that the key tables take, and go through the same handlers and chord
// state as in the Windows program.
#pragma once
#include <gdk/gdk.h>

#include <cstdint>

// The virtual-key code of the key that gives `keyval` with no modifier (US
// layout); 0 for a key the modem has no use for.
uint8_t vk_for_keyval(guint keyval);

// One key press or release, with the modifier state GDK reports (the state
// before the event). Returns the key code to send, 0 for none. Keys pressed
// or released with Alt down and Ctrl up, and F10, take the system-key path,
// as Windows delivers them.
uint8_t key_event_code(bool press, guint keyval, GdkModifierType state);

// The key code of a GDK key event, read from the key's keyval with no
// modifier but Num Lock, in the first layout group.
uint8_t key_code_of(const GdkEventKey *event);
