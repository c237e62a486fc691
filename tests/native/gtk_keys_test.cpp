// GDK key events through the key tables: the bytes the modem gets for every
// kind of key, as the Windows program sends them, and the modifier handling
// that stands in for Windows' message kinds.
#include "gtk/gtk_keys.h"
#include "link/keymap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const int NONE = 0, SHIFT = GDK_SHIFT_MASK, CTRL = GDK_CONTROL_MASK, ALT = GDK_MOD1_MASK;

struct Event {
    bool press;
    guint keyval;
    int state; // GDK's: the modifiers down before the event
};

Event down(guint keyval, int state = NONE) {
    return {true, keyval, state};
}
Event up(guint keyval, int state = NONE) {
    return {false, keyval, state};
}

// The key codes a sequence of events sends, in order.
std::string sent(const std::vector<Event> &events) {
    std::string codes;
    for (const Event &e : events) {
        uint8_t code = key_event_code(e.press, vk_for_keyval(e.keyval), (GdkModifierType)e.state);
        if (code) codes += (char)code;
    }
    return codes;
}

// Each key pressed and released in turn with `state` held.
std::string typed(const std::vector<guint> &keyvals, int state = NONE) {
    std::vector<Event> events;
    for (guint keyval : keyvals) {
        events.push_back(down(keyval, state));
        events.push_back(up(keyval, state));
    }
    return sent(events);
}

std::vector<guint> range(guint first, guint last) {
    std::vector<guint> keyvals;
    for (guint k = first; k <= last; k++)
        keyvals.push_back(k);
    return keyvals;
}

class GtkKeys : public ::testing::Test {
  protected:
    void SetUp() override { keymap_reset(); }
};

struct Row {
    const char *name;
    std::vector<guint> keyvals;
    int state;
    std::string expected;
};

TEST_F(GtkKeys, EveryKindOfKeySendsWhatWindowsSends) {
    using namespace std::string_literals;
    const std::vector<guint> digits = {GDK_KEY_1, GDK_KEY_2, GDK_KEY_3, GDK_KEY_4, GDK_KEY_5,
                                       GDK_KEY_6, GDK_KEY_7, GDK_KEY_8, GDK_KEY_9, GDK_KEY_0};
    const std::vector<guint> punctuation = {
        GDK_KEY_semicolon, GDK_KEY_equal,        GDK_KEY_comma,     GDK_KEY_minus,
        GDK_KEY_period,    GDK_KEY_slash,        GDK_KEY_grave,     GDK_KEY_bracketleft,
        GDK_KEY_backslash, GDK_KEY_bracketright, GDK_KEY_apostrophe};
    const std::vector<guint> navigation = {
        GDK_KEY_Prior, GDK_KEY_Next,  GDK_KEY_End,  GDK_KEY_Home,   GDK_KEY_Left,
        GDK_KEY_Up,    GDK_KEY_Right, GDK_KEY_Down, GDK_KEY_Insert, GDK_KEY_Delete};
    const std::vector<guint> keypadNavigation = {
        GDK_KEY_KP_Prior,  GDK_KEY_KP_Next,   GDK_KEY_KP_End,   GDK_KEY_KP_Home,
        GDK_KEY_KP_Left,   GDK_KEY_KP_Up,     GDK_KEY_KP_Right, GDK_KEY_KP_Down,
        GDK_KEY_KP_Insert, GDK_KEY_KP_Delete, GDK_KEY_KP_Begin};
    const Row rows[] = {
        {"letters", range(GDK_KEY_a, GDK_KEY_z), NONE, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"capital letters", range(GDK_KEY_A, GDK_KEY_Z), SHIFT, "ABCDEFGHIJKLMNOPQRSTUVWXYZ"},
        {"Ctrl+letters", {GDK_KEY_a, GDK_KEY_q, GDK_KEY_z}, CTRL, "\x01\x11\x1a"},
        {"digits", digits, NONE, "1234567890"},
        {"Shift+digits", digits, SHIFT, "!@#$%^&*()"},
        {"Ctrl+digits", digits, CTRL,
         "\xa0\xa1\xa2\xa3\xa4"
         "67890"},
        {"F1..F9, F11, F12",
         {GDK_KEY_F1, GDK_KEY_F5, GDK_KEY_F9, GDK_KEY_F11, GDK_KEY_F12},
         NONE,
         "\xb0\xb4\xb8\xba\xbb"},
        {"Shift+F1, F12", {GDK_KEY_F1, GDK_KEY_F12}, SHIFT, "\xc8\xd3"},
        {"F13..F24", range(GDK_KEY_F13, GDK_KEY_F24), NONE,
         "\x7c\x7d\x7e\x7f\x80\x81\x82\x83\x84\x85\x86\x87"},
        {"navigation", navigation, NONE, "\xe0\xe1\xdf\xde\xe4\xe2\xe5\xe3\xdd\xe6"},
        {"Shift+navigation", navigation, SHIFT, "\xd6\xd7\xdf\xde\xda\xd8\xdb\xd9\xdd\xe6"},
        {"Ctrl+navigation", navigation, CTRL, "\xf4\xf5\xdf\xde\xf2\xf0\xf3\xf1\xdd\xe6"},
        {"keypad, Num Lock off", keypadNavigation, NONE,
         "\xe0\xe1\xdf\xde\xe4\xe2\xe5\xe3\xdd\xe6\x0c"},
        {"keypad digits", range(GDK_KEY_KP_0, GDK_KEY_KP_9), NONE, "`ABCDEFGHI"},
        {"keypad operators", range(GDK_KEY_KP_Multiply, GDK_KEY_KP_Divide), NONE, "JKLMNO"},
        {"Ctrl+keypad", {GDK_KEY_KP_0, GDK_KEY_KP_7, GDK_KEY_KP_Divide}, CTRL, "`\x07\x0f"},
        {"punctuation", punctuation, NONE, ";=,-./`[\\]'"},
        {"Shift+punctuation", punctuation, SHIFT, ":+<_>?~{|}\""},
        {"Backspace Tab Shift+Tab Enter keypad-Enter",
         {GDK_KEY_BackSpace, GDK_KEY_Tab, GDK_KEY_ISO_Left_Tab, GDK_KEY_Return, GDK_KEY_KP_Enter},
         NONE,
         "\xed\xee\xee\xe9\xe9"},
        {"Escape space Pause Print Menu",
         {GDK_KEY_Escape, GDK_KEY_space, GDK_KEY_Pause, GDK_KEY_Print, GDK_KEY_Menu},
         NONE,
         "\x1b \x13\x2c\x5d"},
        {"lock keys",
         {GDK_KEY_Caps_Lock, GDK_KEY_Num_Lock, GDK_KEY_Scroll_Lock},
         NONE,
         "\x14\x90\x91"},
        {"Windows keys: left on press and release, right on press",
         {GDK_KEY_Super_L, GDK_KEY_Super_R},
         NONE,
         "\xec\xed\x5c"},
        {"the 102nd key", {GDK_KEY_less}, NONE, "\xe2"},
        {"keys with no virtual key",
         {GDK_KEY_eacute, GDK_KEY_VoidSymbol, GDK_KEY_Hyper_L},
         NONE,
         ""},
    };
    for (const Row &row : rows) {
        keymap_reset();
        EXPECT_EQ(typed(row.keyvals, row.state), row.expected) << row.name;
    }
}

// GDK gives the state before the event, Windows' key-down of Shift or Ctrl
// already finds that key down: so the chord needs the pressed key counted.
TEST_F(GtkKeys, ShiftAndCtrlCountTheirOwnPressForTheChord) {
    EXPECT_EQ(sent({down(GDK_KEY_Control_L), down(GDK_KEY_Shift_L, CTRL),
                    up(GDK_KEY_Shift_L, CTRL | SHIFT), up(GDK_KEY_Control_L, CTRL)}),
              "\xf6\xf7");
    EXPECT_EQ(sent({down(GDK_KEY_Shift_R), down(GDK_KEY_Control_R, SHIFT),
                    down(GDK_KEY_Control_R, SHIFT | CTRL), down(GDK_KEY_a, SHIFT | CTRL),
                    up(GDK_KEY_a, SHIFT | CTRL), up(GDK_KEY_Control_R, SHIFT | CTRL),
                    up(GDK_KEY_Shift_R, SHIFT)}),
              "\xf6\x01\xf7");
    EXPECT_EQ(sent({down(GDK_KEY_Shift_L), up(GDK_KEY_Shift_L, SHIFT), down(GDK_KEY_Control_L),
                    up(GDK_KEY_Control_L, CTRL)}),
              "");
}

// Alt combinations without Ctrl are system keys, as is F10: only F10 sends.
TEST_F(GtkKeys, AltAndF10TakeTheSystemKeyPath) {
    EXPECT_EQ(sent({down(GDK_KEY_Alt_L), down(GDK_KEY_a, ALT), up(GDK_KEY_a, ALT),
                    up(GDK_KEY_Alt_L, ALT), down(GDK_KEY_ISO_Level3_Shift)}),
              "");
    EXPECT_EQ(typed({GDK_KEY_F10}), "\xb9");
    EXPECT_EQ(typed({GDK_KEY_F10}, SHIFT), "\xd1");
    EXPECT_EQ(typed({GDK_KEY_F10}, CTRL), "\xb9");
    EXPECT_EQ(typed({GDK_KEY_F10, GDK_KEY_F1}, ALT), "\xb9");
    EXPECT_EQ(typed({GDK_KEY_a}, CTRL | ALT), "\x01");
    // A Shift+Ctrl chord released while Alt is down is not reported: that
    // release is a system key.
    EXPECT_EQ(sent({down(GDK_KEY_Control_L), down(GDK_KEY_Shift_L, CTRL),
                    up(GDK_KEY_Control_L, CTRL | SHIFT | ALT), up(GDK_KEY_Shift_L, SHIFT | ALT)}),
              "\xf6");
}

} // namespace
