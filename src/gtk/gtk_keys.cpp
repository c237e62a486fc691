#include "gtk/gtk_keys.h"
#include "link/keymap.h"

enum : uint8_t {
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12, // Alt
    VK_F10 = 0x79,
};

// Keyvals first..last give the virtual keys vk, vk + 1, ...
struct KeyRange {
    guint first, last;
    uint8_t vk;
};

static const KeyRange keyTable[] = {
    {GDK_KEY_a, GDK_KEY_z, 0x41},
    {GDK_KEY_A, GDK_KEY_Z, 0x41},
    {GDK_KEY_0, GDK_KEY_9, 0x30},
    {GDK_KEY_F1, GDK_KEY_F24, 0x70},
    {GDK_KEY_BackSpace, GDK_KEY_BackSpace, 0x08},
    {GDK_KEY_Tab, GDK_KEY_Tab, 0x09},
    {GDK_KEY_ISO_Left_Tab, GDK_KEY_ISO_Left_Tab, 0x09},
    {GDK_KEY_Clear, GDK_KEY_Clear, 0x0C},
    {GDK_KEY_Return, GDK_KEY_Return, 0x0D},
    {GDK_KEY_Shift_L, GDK_KEY_Shift_L, VK_SHIFT},
    {GDK_KEY_Shift_R, GDK_KEY_Shift_R, VK_SHIFT},
    {GDK_KEY_Control_L, GDK_KEY_Control_L, VK_CONTROL},
    {GDK_KEY_Control_R, GDK_KEY_Control_R, VK_CONTROL},
    {GDK_KEY_Alt_L, GDK_KEY_Alt_L, VK_MENU},
    {GDK_KEY_Alt_R, GDK_KEY_Alt_R, VK_MENU},
    {GDK_KEY_ISO_Level3_Shift, GDK_KEY_ISO_Level3_Shift, VK_MENU}, // AltGr
    {GDK_KEY_Pause, GDK_KEY_Pause, 0x13},
    {GDK_KEY_Caps_Lock, GDK_KEY_Caps_Lock, 0x14},
    {GDK_KEY_Escape, GDK_KEY_Escape, 0x1B},
    {GDK_KEY_space, GDK_KEY_space, 0x20},
    {GDK_KEY_Prior, GDK_KEY_Prior, 0x21},
    {GDK_KEY_Next, GDK_KEY_Next, 0x22},
    {GDK_KEY_End, GDK_KEY_End, 0x23},
    {GDK_KEY_Home, GDK_KEY_Home, 0x24},
    {GDK_KEY_Left, GDK_KEY_Down, 0x25}, // Left Up Right Down
    {GDK_KEY_Print, GDK_KEY_Print, 0x2C},
    {GDK_KEY_Insert, GDK_KEY_Insert, 0x2D},
    {GDK_KEY_Delete, GDK_KEY_Delete, 0x2E},
    {GDK_KEY_Super_L, GDK_KEY_Super_L, 0x5B},
    {GDK_KEY_Super_R, GDK_KEY_Super_R, 0x5C},
    {GDK_KEY_Menu, GDK_KEY_Menu, 0x5D},
    // The keypad: digits and operators with Num Lock on, the navigation keys
    // they share with the editing block with it off.
    {GDK_KEY_KP_0, GDK_KEY_KP_9, 0x60},
    {GDK_KEY_KP_Multiply, GDK_KEY_KP_Divide, 0x6A}, // * + separator - . /
    {GDK_KEY_KP_Enter, GDK_KEY_KP_Enter, 0x0D},
    {GDK_KEY_KP_Prior, GDK_KEY_KP_Prior, 0x21},
    {GDK_KEY_KP_Next, GDK_KEY_KP_Next, 0x22},
    {GDK_KEY_KP_End, GDK_KEY_KP_End, 0x23},
    {GDK_KEY_KP_Home, GDK_KEY_KP_Home, 0x24},
    {GDK_KEY_KP_Left, GDK_KEY_KP_Down, 0x25},
    {GDK_KEY_KP_Begin, GDK_KEY_KP_Begin, 0x0C},
    {GDK_KEY_KP_Insert, GDK_KEY_KP_Insert, 0x2D},
    {GDK_KEY_KP_Delete, GDK_KEY_KP_Delete, 0x2E},
    {GDK_KEY_Num_Lock, GDK_KEY_Num_Lock, 0x90},
    {GDK_KEY_Scroll_Lock, GDK_KEY_Scroll_Lock, 0x91},
    // The punctuation keys, numbered as Windows numbers them (VK_OEM_...).
    {GDK_KEY_semicolon, GDK_KEY_semicolon, 0xBA},
    {GDK_KEY_equal, GDK_KEY_equal, 0xBB},
    {GDK_KEY_comma, GDK_KEY_comma, 0xBC},
    {GDK_KEY_minus, GDK_KEY_minus, 0xBD},
    {GDK_KEY_period, GDK_KEY_period, 0xBE},
    {GDK_KEY_slash, GDK_KEY_slash, 0xBF},
    {GDK_KEY_grave, GDK_KEY_grave, 0xC0},
    {GDK_KEY_bracketleft, GDK_KEY_bracketleft, 0xDB},
    {GDK_KEY_backslash, GDK_KEY_backslash, 0xDC},
    {GDK_KEY_bracketright, GDK_KEY_bracketright, 0xDD},
    {GDK_KEY_apostrophe, GDK_KEY_apostrophe, 0xDE},
    {GDK_KEY_less, GDK_KEY_less, 0xE2}, // the extra key of 102-key keyboards
};

uint8_t vk_for_keyval(guint keyval) {
    for (const KeyRange &range : keyTable)
        if (keyval >= range.first && keyval <= range.last)
            return (uint8_t)(range.vk + (keyval - range.first));
    return 0;
}

uint8_t key_event_code(bool press, guint keyval, GdkModifierType state) {
    uint8_t vk = vk_for_keyval(keyval);
    if (vk == 0) return 0;
    // GDK reports the state before the event, Windows the state after it: a
    // modifier's own press already counts as down there, its release as up.
    int own = vk == VK_SHIFT     ? GDK_SHIFT_MASK
              : vk == VK_CONTROL ? GDK_CONTROL_MASK
              : vk == VK_MENU    ? GDK_MOD1_MASK
                                 : 0;
    int down = press ? state | own : state & ~own;
    bool shift = down & GDK_SHIFT_MASK, ctrl = down & GDK_CONTROL_MASK;
    bool system = ((down & GDK_MOD1_MASK) && !ctrl) || vk == VK_F10;
    if (!press) return system ? 0 : key_up(vk).code; // system key-ups send nothing
    if (system) return sys_key_down(vk, shift);
    return key_down(vk, shift, ctrl).code;
}

uint8_t key_code_of(const GdkEventKey *event) {
    guint keyval = event->keyval;
    GdkKeymap *keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    // Num Lock (Mod2) picks the keypad's digits or its navigation keys;
    // every other modifier is left out, so Shift+1 is still the 1 key.
    gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode,
                                        (GdkModifierType)(event->state & GDK_MOD2_MASK), 0, &keyval,
                                        nullptr, nullptr, nullptr);
    return key_event_code(event->type == GDK_KEY_PRESS, keyval, (GdkModifierType)event->state);
}
