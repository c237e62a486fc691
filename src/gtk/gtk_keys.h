// Key events of the main window: GDK key events become the Windows virtual-key
// codes that the key tables take, and go through the same handlers and chord
// state as in the Windows program.
#pragma once
#include <gdk/gdk.h>

#include <cstdint>

// One layout group of the keyboard: the keyval each key, by its hardware
// keycode, gives in it with no modifier but Num Lock; 0 for none.
class KeyGroup {
  public:
    virtual guint keyval(guint keycode) const = 0;

  protected:
    ~KeyGroup() = default;
};

// The virtual-key code Windows gives the key with this hardware keycode
// (evdev numbering, as X and Wayland have it) in the layout `group` is; 0 for
// a key the modem has no use for. Named keys, letters and digits go by their
// keyval, the punctuation keys by the layout's own numbering where Windows
// has one that differs from the US keyboard, else by their keyval on a Latin
// layout, and every other key by its place on the US keyboard.
uint8_t vk_for_key(guint keycode, const KeyGroup &group);

// The virtual-key code of the key that gives `keyval` with no modifier on
// the US layout, which vk_for_key also takes for the punctuation of Latin
// layouts with no numbering of their own; 0 for none.
uint8_t vk_for_keyval(guint keyval);

// One key press or release of virtual key `vk`, with the modifier state GDK
// reports (the state before the event). Returns the key code to send, 0 for
// none. Keys pressed or released with Alt down and Ctrl up, and F10, take the
// system-key path, as Windows delivers them.
uint8_t key_event_code(bool press, uint8_t vk, GdkModifierType state);

// The key code of a GDK key event, its virtual key read in the event's
// layout group.
uint8_t key_code_of(const GdkEventKey *event);
