// Key translation: every virtual-key code in every Shift/Ctrl state, key-up,
// system keys and the Shift+Ctrl chord.
#include "link/keymap.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// Modifier states, indexed like the columns below: plain, Shift, Ctrl, Ctrl+Shift.
struct Mods {
    bool shift;
    bool ctrl;
    const char *name;
};
const Mods kMods[4] = {{false, false, "plain"},
                       {true, false, "Shift"},
                       {false, true, "Ctrl"},
                       {true, true, "Ctrl+Shift"}};

// The named keys and the codes they send, in decimal.
struct Named {
    int vk;
    int code[4];
};
const Named kNamed[] = {
    {0x08, {237, 237, 237, 237}}, // Backspace
    {0x09, {238, 238, 238, 238}}, // Tab
    {0x0D, {233, 233, 233, 233}}, // Enter
    {0x10, {0, 0, 246, 246}},     // Shift: chord when Ctrl is down
    {0x11, {0, 246, 0, 246}},     // Ctrl: chord when Shift is down
    {0x21, {224, 214, 244, 244}}, // Page Up
    {0x22, {225, 215, 245, 245}}, // Page Down
    {0x23, {223, 223, 223, 223}}, // End
    {0x24, {222, 222, 222, 222}}, // Home
    {0x25, {228, 218, 242, 242}}, // Left
    {0x26, {226, 216, 240, 240}}, // Up
    {0x27, {229, 219, 243, 243}}, // Right
    {0x28, {227, 217, 241, 241}}, // Down
    {0x2D, {221, 221, 221, 221}}, // Insert
    {0x2E, {230, 230, 230, 230}}, // Delete
    {0x5B, {236, 236, 236, 236}}, // left Windows key
    {0x70, {176, 200, 176, 200}}, // F1
    {0x71, {177, 201, 177, 201}}, // F2
    {0x72, {178, 202, 178, 202}}, // F3
    {0x73, {179, 203, 179, 203}}, // F4
    {0x74, {180, 204, 180, 204}}, // F5
    {0x75, {181, 205, 181, 205}}, // F6
    {0x76, {182, 206, 182, 206}}, // F7
    {0x77, {183, 207, 183, 207}}, // F8
    {0x78, {184, 208, 184, 208}}, // F9
    {0x7A, {186, 210, 186, 210}}, // F11
    {0x7B, {187, 211, 187, 211}}, // F12
    {0xBA, {59, 58, 59, 58}},     // ; :
    {0xBB, {61, 43, 61, 43}},     // = +
    {0xBC, {44, 60, 44, 60}},     // , <
    {0xBD, {45, 95, 45, 95}},     // - _
    {0xBE, {46, 62, 46, 62}},     // . >
    {0xBF, {47, 63, 47, 63}},     // / ?
    {0xC0, {96, 126, 96, 126}},   // ` ~
    {0xDB, {91, 123, 91, 123}},   // [ {
    {0xDC, {92, 124, 92, 124}},   // \ |
    {0xDD, {93, 125, 93, 125}},   // ] }
    {0xDE, {39, 34, 39, 34}},     // ' "
};

const Named *named(int vk) {
    for (const Named &n : kNamed)
        if (n.vk == vk) return &n;
    return nullptr;
}

// The digit keys 0..9.
const int kDigits[10][4] = {{0x30, 0x29, 0x30, 0x29}, {0x31, 0x21, 0xA0, 0x21},
                            {0x32, 0x40, 0xA1, 0x40}, {0x33, 0x23, 0xA2, 0x23},
                            {0x34, 0x24, 0xA3, 0x24}, {0x35, 0x25, 0xA4, 0x25},
                            {0x36, 0x5E, 0x36, 0x5E}, {0x37, 0x26, 0x37, 0x26},
                            {0x38, 0x2A, 0x38, 0x2A}, {0x39, 0x28, 0x39, 0x28}};

// What an unnamed key sends, from its low byte: digits by their table,
// letters as upper case (Ctrl: 1..26), 0x61..0x7A (keypad 1..9 and operators,
// F10) folded onto the letters first, everything else unchanged.
int unnamedCode(int low, int mods) {
    bool ctrl = kMods[mods].ctrl;
    if (low >= 0x30 && low <= 0x39) return kDigits[low - 0x30][mods];
    if (low >= 0x61 && low <= 0x7A) low -= 0x20;
    if (low >= 0x41 && low <= 0x5A) return ctrl ? low - 0x40 : low;
    return low;
}

std::string where(uint64_t vk, int mods) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "vk 0x%llx %s", (unsigned long long)vk, kMods[mods].name);
    return buf;
}

class KeyFixture : public ::testing::Test {
  protected:
    void SetUp() override { keymap_reset(); }
    void TearDown() override { keymap_reset(); }
};

using KeyDown = KeyFixture;
using KeyUp = KeyFixture;
using KeySys = KeyFixture;

TEST_F(KeyDown, EveryCodeInEveryModifierState) {
    for (int vk = 0; vk < 256; vk++) {
        const Named *n = named(vk);
        for (int m = 0; m < 4; m++) {
            keymap_reset();
            KeyResult r = key_down(vk, kMods[m].shift, kMods[m].ctrl);
            int expected = n ? n->code[m] : unnamedCode(vk, m);
            EXPECT_EQ(r.code, expected) << where(vk, m);
            EXPECT_EQ(r.process, vk == 0x5B ? 0 : 1) << where(vk, m);
            EXPECT_EQ(gCtlShift, expected == 0xF6 && (vk == 0x10 || vk == 0x11) ? 1 : 0)
                << where(vk, m);
        }
    }
}

TEST_F(KeyDown, CodesAbove0xFFTranslateTheirLowByte) {
    const uint64_t highs[] = {0x100, 0x1200, 0x10000, 0xFFFFFFFF00000000ull};
    for (uint64_t high : highs)
        for (int low = 0; low < 256; low++)
            for (int m = 0; m < 4; m++) {
                uint64_t vk = high | (uint64_t)low;
                KeyResult r = key_down(vk, kMods[m].shift, kMods[m].ctrl);
                EXPECT_EQ(r.code, unnamedCode(low, m)) << where(vk, m);
                EXPECT_EQ(r.process, 1) << where(vk, m);
                EXPECT_EQ(gCtlShift, 0) << where(vk, m);
            }
}

TEST_F(KeyDown, FamiliarKeys) {
    struct Case {
        int vk;
        int mods;
        int code;
    } cases[] = {
        {0x41, 3, 0x01},                  // Ctrl+Shift+A
        {0x41, 1, 0x41},                  // Shift+A stays upper case
        {0x5A, 2, 0x1A},                  // Ctrl+Z
        {0x31, 3, 0x21},                  // Ctrl+Shift+1 is "!", not Ctrl+1
        {0x36, 2, 0x36},                  // Ctrl+6
        {0x70, 1, 0xC8},                  // Shift+F1
        {0x70, 2, 0xB0},                  // Ctrl+F1
        {0x79, 0, 0x59},                  // F10 as an ordinary key-down
        {0x79, 2, 0x19}, {0x26, 3, 0xF0}, // Ctrl+Shift+Up
        {0x24, 1, 0xDE},                  // Shift+Home
        {0x14, 0, 0x14},                  // Caps Lock
        {0x5C, 0, 0x5C},                  // right Windows key
        {0x67, 0, 0x47},                  // keypad 7, Num Lock on
        {0x67, 2, 0x07}, {0x60, 2, 0x60}, // keypad 0 ignores Ctrl
        {0x6F, 2, 0x0F},                  // keypad divide with Ctrl
        {0xE2, 0, 0xE2},                  // the 102nd key sends the same byte as Up
        {0x20, 3, 0x20},                  // Space
        {0x1B, 2, 0x1B},                  // Escape
    };
    for (const Case &c : cases)
        EXPECT_EQ(key_down(c.vk, kMods[c.mods].shift, kMods[c.mods].ctrl).code, c.code)
            << where(c.vk, c.mods);
}

TEST_F(KeyUp, OnlyChordAndLeftWindowsKeySendOnRelease) {
    for (int flag = 0; flag <= 1; flag++)
        for (uint64_t high : {0ull, 0x100ull})
            for (int low = 0; low < 256; low++) {
                uint64_t vk = high | (uint64_t)low;
                gCtlShift = flag;
                KeyResult r = key_up(vk);
                bool chord = vk == 0x10 || vk == 0x11;
                int expected = chord && flag ? 0xF7 : vk == 0x5B ? 0xED : 0;
                EXPECT_EQ(r.code, expected) << "vk " << vk << " flag " << flag;
                EXPECT_EQ(r.process, vk == 0x5B ? 0 : 1) << "vk " << vk;
                EXPECT_EQ(gCtlShift, chord ? 0 : flag) << "vk " << vk << " flag " << flag;
            }
}

TEST_F(KeyUp, LeftWindowsKeyPressAndRelease) {
    KeyResult down = key_down(0x5B, false, false);
    KeyResult up = key_up(0x5B);
    EXPECT_EQ(down.code, 0xEC);
    EXPECT_EQ(down.process, 0);
    EXPECT_EQ(up.code, 0xED);
    EXPECT_EQ(up.process, 0);
}

TEST_F(KeySys, OnlyF10Sends) {
    for (uint64_t high : {0ull, 0x100ull})
        for (int low = 0; low < 256; low++)
            for (bool shift : {false, true}) {
                uint64_t vk = high | (uint64_t)low;
                int expected = vk == 0x79 ? (shift ? 0xD1 : 0xB9) : 0;
                EXPECT_EQ(sys_key_down(vk, shift), expected) << "vk " << vk << " shift " << shift;
            }
    EXPECT_EQ(gCtlShift, 0);
}

// A keyboard that holds Shift and Ctrl the way the window sees them at each
// message, and a link that passes codes on only while open.
class KeyChord : public KeyFixture {
  protected:
    bool shift = false;
    bool ctrl = false;
    bool linkOpen = true;
    std::vector<int> sent;

    void press(uint64_t vk) {
        if (vk == 0x10) shift = true;
        if (vk == 0x11) ctrl = true;
        transmit(key_down(vk, shift, ctrl).code);
    }
    void release(uint64_t vk) {
        if (vk == 0x10) shift = false;
        if (vk == 0x11) ctrl = false;
        transmit(key_up(vk).code);
    }
    void transmit(uint8_t code) {
        if (code != 0 && linkOpen) sent.push_back(code);
    }
};

const uint64_t SHIFT = 0x10, CTRL = 0x11;

TEST_F(KeyChord, CtrlThenShift) {
    press(CTRL);
    press(SHIFT);
    release(SHIFT);
    release(CTRL);
    EXPECT_EQ(sent, (std::vector<int>{0xF6, 0xF7}));
    EXPECT_EQ(gCtlShift, 0);
}

TEST_F(KeyChord, ShiftThenCtrl) {
    press(SHIFT);
    press(CTRL);
    release(CTRL);
    release(SHIFT);
    EXPECT_EQ(sent, (std::vector<int>{0xF6, 0xF7}));
    EXPECT_EQ(gCtlShift, 0);
}

TEST_F(KeyChord, AutoRepeatReportsTheChordOnce) {
    for (uint64_t first : {CTRL, SHIFT}) {
        uint64_t second = first == CTRL ? SHIFT : CTRL;
        sent.clear();
        for (int k = 0; k < 3; k++)
            press(first);
        for (int k = 0; k < 5; k++)
            press(second);
        press(first);
        EXPECT_EQ(sent, (std::vector<int>{0xF6})) << "first " << first;
        release(second);
        release(first);
        EXPECT_EQ(sent, (std::vector<int>{0xF6, 0xF7})) << "first " << first;
    }
}

TEST_F(KeyChord, RenewedPressAfterReleaseReportsAgain) {
    press(CTRL);
    press(SHIFT);
    release(SHIFT);
    press(SHIFT);
    release(SHIFT);
    release(CTRL);
    EXPECT_EQ(sent, (std::vector<int>{0xF6, 0xF7, 0xF6, 0xF7}));
}

TEST_F(KeyChord, OneModifierAloneSendsNothing) {
    for (uint64_t key : {SHIFT, CTRL}) {
        press(key);
        press(key);
        release(key);
    }
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(gCtlShift, 0);
}

TEST_F(KeyChord, LostReleaseWaitsForTheNextOne) {
    press(CTRL);
    press(SHIFT);
    shift = ctrl = false; // both released while another window had the focus
    press(SHIFT);
    EXPECT_EQ(sent, (std::vector<int>{0xF6}));
    release(SHIFT);
    press(CTRL);
    press(SHIFT);
    EXPECT_EQ(sent, (std::vector<int>{0xF6, 0xF7, 0xF6}));
}

TEST_F(KeyChord, OtherKeysKeepTheirCodesDuringTheChord) {
    press(CTRL);
    press(SHIFT);
    press(0x41);
    press(0x31);
    press(0x26);
    press(0x70);
    release(0x41);
    EXPECT_EQ(gCtlShift, 1);
    release(CTRL);
    EXPECT_EQ(sent, (std::vector<int>{0xF6, 0x01, 0x21, 0xF0, 0xC8, 0xF7}));
}

TEST_F(KeyChord, FlagFollowsTheKeysWhileTheLinkIsClosed) {
    linkOpen = false;
    press(SHIFT);
    press(CTRL);
    EXPECT_EQ(gCtlShift, 1);
    linkOpen = true;
    press(CTRL);
    release(CTRL);
    EXPECT_EQ(sent, (std::vector<int>{0xF7}));

    sent.clear();
    press(CTRL);
    linkOpen = false;
    release(SHIFT);
    EXPECT_EQ(gCtlShift, 0);
    linkOpen = true;
    press(SHIFT);
    EXPECT_EQ(sent, (std::vector<int>{0xF6, 0xF6}));
}

} // namespace
