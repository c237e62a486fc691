#include "gtk/gtk_keys.h"
#include "link/keymap.h"

#include <cstring>

enum : uint8_t {
    VK_SHIFT = 0x10,
    VK_CONTROL = 0x11,
    VK_MENU = 0x12, // Alt
    VK_OEM_1 = 0xBA,
    VK_OEM_PLUS = 0xBB,
    VK_OEM_COMMA = 0xBC,
    VK_OEM_MINUS = 0xBD,
    VK_OEM_PERIOD = 0xBE,
    VK_OEM_2 = 0xBF,
    VK_OEM_3 = 0xC0,
    VK_OEM_4 = 0xDB,
    VK_OEM_5 = 0xDC,
    VK_OEM_6 = 0xDD,
    VK_OEM_7 = 0xDE,
    VK_OEM_102 = 0xE2, // the extra key of 102-key keyboards
};

// Keyvals first..last give the virtual keys vk, vk + 1, ...
struct KeyRange {
    guint first, last;
    uint8_t vk;
};

// Keys their keyval identifies in every layout: letters and digits, which Windows
// numbers by the character they type, and the keys with names.
static const KeyRange keyvalKeys[] = {
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
};

// The US keyboard's punctuation keys by the character they type (VK_OEM_...).
static const KeyRange usPunctuation[] = {
    {GDK_KEY_semicolon, GDK_KEY_semicolon, VK_OEM_1},
    {GDK_KEY_equal, GDK_KEY_equal, VK_OEM_PLUS},
    {GDK_KEY_comma, GDK_KEY_comma, VK_OEM_COMMA},
    {GDK_KEY_minus, GDK_KEY_minus, VK_OEM_MINUS},
    {GDK_KEY_period, GDK_KEY_period, VK_OEM_PERIOD},
    {GDK_KEY_slash, GDK_KEY_slash, VK_OEM_2},
    {GDK_KEY_grave, GDK_KEY_grave, VK_OEM_3},
    {GDK_KEY_bracketleft, GDK_KEY_bracketleft, VK_OEM_4},
    {GDK_KEY_backslash, GDK_KEY_backslash, VK_OEM_5},
    {GDK_KEY_bracketright, GDK_KEY_bracketright, VK_OEM_6},
    {GDK_KEY_apostrophe, GDK_KEY_apostrophe, VK_OEM_7},
    {GDK_KEY_less, GDK_KEY_less, VK_OEM_102},
};

template <size_t N> static uint8_t vkOf(const KeyRange (&table)[N], guint keyval) {
    for (const KeyRange &range : table)
        if (keyval >= range.first && keyval <= range.last)
            return (uint8_t)(range.vk + (keyval - range.first));
    return 0;
}

// The US keyboard's main block by hardware keycode: keys first, first + 1,
// ... have the virtual keys vks[0], vks[1], ...
struct KeyRow {
    guint first;
    const char *vks;
};

static const KeyRow usKeys[] = {
    {10, "1234567890\xBD\xBB"},      // 1 .. 0 - =
    {24, "QWERTYUIOP\xDB\xDD"},      // Q .. P [ ]
    {38, "ASDFGHJKL\xBA\xDE\xC0"},   // A .. L ; ' and ` left of 1
    {51, "\xDCZXCVBNM\xBC\xBE\xBF"}, // \ Z .. M , . /
    {94, "\xE2"},                    // the extra key of 102-key keyboards
};

enum : guint { KEY_US_A = 38 };

static uint8_t usVk(guint keycode) {
    for (const KeyRow &row : usKeys)
        if (keycode >= row.first && keycode - row.first < strlen(row.vks))
            return (uint8_t)row.vks[keycode - row.first];
    return 0;
}

// A key that a layout's own table in Windows numbers apart from the US
// keyboard. The rows with a keyval recognise the layout: a group is taken
// for it when each of those keys gives that keyval there; the other rows
// hold whatever the key gives (variants differ in dead keys).
struct LayoutKey {
    guint keycode;
    guint keyval;
    uint8_t vk;
};

// German, used in Austria too. Its Y and Z go by their letters.
static const LayoutKey german[] = {
    {20, GDK_KEY_ssharp, VK_OEM_4},     // where the US keyboard has -
    {34, GDK_KEY_udiaeresis, VK_OEM_1}, // [
    {47, GDK_KEY_odiaeresis, VK_OEM_3}, // ;
    {48, GDK_KEY_adiaeresis, VK_OEM_7}, // '
    {49, 0, VK_OEM_5},                  // ^ where the US keyboard has `
    {21, 0, VK_OEM_6},                  // the acute accent, =
    {35, 0, VK_OEM_PLUS},               // +, ]
    {51, 0, VK_OEM_2},                  // #, backslash
    {61, 0, VK_OEM_MINUS},              // -, /
};

struct Layout {
    const LayoutKey *keys;
    size_t count;
};

static const Layout layouts[] = {
    {german, sizeof german / sizeof german[0]},
};

static bool recognised(const Layout &layout, const KeyGroup &group) {
    for (size_t i = 0; i < layout.count; i++) {
        const LayoutKey &key = layout.keys[i];
        if (key.keyval && group.keyval(key.keycode) != key.keyval) return false;
    }
    return true;
}

static uint8_t layoutVk(guint keycode, const KeyGroup &group) {
    for (const Layout &layout : layouts)
        for (size_t i = 0; i < layout.count; i++)
            if (layout.keys[i].keycode == keycode && recognised(layout, group))
                return layout.keys[i].vk;
    return 0;
}

// Latin layouts type ASCII letters. Windows numbers every key of the others
// (Cyrillic, Greek ...) by its place on the US keyboard.
static bool isLatin(const KeyGroup &group) {
    guint keyval = group.keyval(KEY_US_A);
    return (keyval >= GDK_KEY_a && keyval <= GDK_KEY_z) ||
           (keyval >= GDK_KEY_A && keyval <= GDK_KEY_Z);
}

uint8_t vk_for_key(guint keycode, const KeyGroup &group) {
    guint keyval = group.keyval(keycode);
    uint8_t vk = vkOf(keyvalKeys, keyval);
    if (!vk) vk = layoutVk(keycode, group);
    // A Latin layout with no table keeps the US numbers of the punctuation
    // wherever it puts it, as Windows' Dvorak layout does.
    if (!vk && isLatin(group)) vk = vkOf(usPunctuation, keyval);
    return vk ? vk : usVk(keycode);
}

uint8_t vk_for_keyval(guint keyval) {
    uint8_t vk = vkOf(keyvalKeys, keyval);
    return vk ? vk : vkOf(usPunctuation, keyval);
}

uint8_t key_event_code(bool press, uint8_t vk, GdkModifierType state) {
    if (vk == 0) return 0;
    return key_event(press, vk, state & GDK_SHIFT_MASK, state & GDK_CONTROL_MASK,
                     state & GDK_MOD1_MASK);
}

// A layout group of GDK's keymap, read with Num Lock as the event has it:
// Num Lock (Mod2) picks the keypad's digits or its navigation keys; every
// other modifier is left out, so Shift+1 is still the 1 key.
class GdkGroup final : public KeyGroup {
  public:
    GdkGroup(GdkKeymap *keymap, gint group, GdkModifierType numLock)
        : keymap(keymap), group(group), numLock(numLock) {}

    guint keyval(guint keycode) const override {
        guint keyval = 0;
        if (!gdk_keymap_translate_keyboard_state(keymap, keycode, numLock, group, &keyval, nullptr,
                                                 nullptr, nullptr))
            return 0;
        return keyval;
    }

  private:
    GdkKeymap *keymap;
    gint group;
    GdkModifierType numLock;
};

uint8_t key_code_of(const GdkEventKey *event) {
    GdkKeymap *keymap = gdk_keymap_get_for_display(gdk_window_get_display(event->window));
    GdkGroup group(keymap, event->group, (GdkModifierType)(event->state & GDK_MOD2_MASK));
    uint8_t vk = vk_for_key(event->hardware_keycode, group);
    return key_event_code(event->type == GDK_KEY_PRESS, vk, (GdkModifierType)event->state);
}
