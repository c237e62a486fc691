// Key translation: virtual-key codes and Shift/Ctrl states to key codes.
#include "link/keymap.h"

int gCtlShift;

// Virtual-key codes the translation names outside its table.
enum : uint8_t {
    KEY_SHIFT = 0x10,
    KEY_CONTROL = 0x11,
    KEY_MENU = 0x12, // Alt
    KEY_LWIN = 0x5B,
    KEY_F10 = 0x79,
};

enum : uint8_t {
    CODE_CHORD_PRESS = 0xF6,
    CODE_CHORD_RELEASE = 0xF7,
    CODE_LWIN_RELEASE = 0xED,
    CODE_F10 = 0xB9,
    CODE_SHIFT_F10 = 0xD1,
    CODE_CTRL_DIGIT_1 = 0xA0, // Ctrl+1..5 give 0xA0..0xA4
};

// Codes of the named keys in the order plain, Shift, Ctrl, Ctrl+Shift.
// Page and arrow keys look at Ctrl before Shift, so Ctrl+Shift gives the Ctrl
// code; function and punctuation keys look at Shift only; the editing keys,
// Enter, Tab, Backspace and the left Windows key look at neither.
struct KeyRow {
    uint8_t vk;
    uint8_t code[4];
};

static const KeyRow keyDownTable[] = {
    {0x08, {0xED, 0xED, 0xED, 0xED}}, // Backspace
    {0x09, {0xEE, 0xEE, 0xEE, 0xEE}}, // Tab
    {0x0D, {0xE9, 0xE9, 0xE9, 0xE9}}, // Enter
    {0x21, {0xE0, 0xD6, 0xF4, 0xF4}}, // Page Up
    {0x22, {0xE1, 0xD7, 0xF5, 0xF5}}, // Page Down
    {0x23, {0xDF, 0xDF, 0xDF, 0xDF}}, // End
    {0x24, {0xDE, 0xDE, 0xDE, 0xDE}}, // Home
    {0x25, {0xE4, 0xDA, 0xF2, 0xF2}}, // Left
    {0x26, {0xE2, 0xD8, 0xF0, 0xF0}}, // Up
    {0x27, {0xE5, 0xDB, 0xF3, 0xF3}}, // Right
    {0x28, {0xE3, 0xD9, 0xF1, 0xF1}}, // Down
    {0x2D, {0xDD, 0xDD, 0xDD, 0xDD}}, // Insert
    {0x2E, {0xE6, 0xE6, 0xE6, 0xE6}}, // Delete
    {0x5B, {0xEC, 0xEC, 0xEC, 0xEC}}, // left Windows key
    {0x70, {0xB0, 0xC8, 0xB0, 0xC8}}, // F1
    {0x71, {0xB1, 0xC9, 0xB1, 0xC9}}, // F2
    {0x72, {0xB2, 0xCA, 0xB2, 0xCA}}, // F3
    {0x73, {0xB3, 0xCB, 0xB3, 0xCB}}, // F4
    {0x74, {0xB4, 0xCC, 0xB4, 0xCC}}, // F5
    {0x75, {0xB5, 0xCD, 0xB5, 0xCD}}, // F6
    {0x76, {0xB6, 0xCE, 0xB6, 0xCE}}, // F7
    {0x77, {0xB7, 0xCF, 0xB7, 0xCF}}, // F8
    {0x78, {0xB8, 0xD0, 0xB8, 0xD0}}, // F9
    {0x7A, {0xBA, 0xD2, 0xBA, 0xD2}}, // F11 (F10 arrives as a system key)
    {0x7B, {0xBB, 0xD3, 0xBB, 0xD3}}, // F12
    {0xBA, {0x3B, 0x3A, 0x3B, 0x3A}}, // ; :
    {0xBB, {0x3D, 0x2B, 0x3D, 0x2B}}, // = +
    {0xBC, {0x2C, 0x3C, 0x2C, 0x3C}}, // , <
    {0xBD, {0x2D, 0x5F, 0x2D, 0x5F}}, // - _
    {0xBE, {0x2E, 0x3E, 0x2E, 0x3E}}, // . >
    {0xBF, {0x2F, 0x3F, 0x2F, 0x3F}}, // / ?
    {0xC0, {0x60, 0x7E, 0x60, 0x7E}}, // ` ~
    {0xDB, {0x5B, 0x7B, 0x5B, 0x7B}}, // [ {
    {0xDC, {0x5C, 0x7C, 0x5C, 0x7C}}, // \ |
    {0xDD, {0x5D, 0x7D, 0x5D, 0x7D}}, // ] }
    {0xDE, {0x27, 0x22, 0x27, 0x22}}, // ' "
};

// What Shift makes of the digit keys 0..9.
static const char nummap[] = ")!@#$%^&*(";

// Upper-cases 0x61..0x7A and leaves every other byte alone.
struct CaseTable {
    uint8_t to[256];
};

static constexpr CaseTable makeUpcase() {
    CaseTable t{};
    for (int c = 0; c < 256; c++)
        t.to[c] = (uint8_t)(c >= 0x61 && c <= 0x7A ? c - 0x20 : c);
    return t;
}

static constexpr CaseTable upcase = makeUpcase();

// Every key without a row: letters, digits, the keypad and pass-through codes.
static uint8_t defaultCode(uint8_t vk, bool shift, bool ctrl) {
    uint8_t ch = upcase.to[vk];
    if (ch >= 'A' && ch <= 'Z') {
        if (ctrl) ch -= 0x40;
    } else if (ch >= '0' && ch <= '9') {
        if (shift) ch = (uint8_t)nummap[ch - '0'];
        if (ctrl && ch >= '1' && ch <= '5') ch = (uint8_t)(CODE_CTRL_DIGIT_1 + (ch - '1'));
    }
    return ch;
}

// A Shift or Ctrl press reports the chord once, when the other key is down.
static uint8_t chordPress(bool otherDown) {
    if (!otherDown || gCtlShift) return 0;
    gCtlShift = 1;
    return CODE_CHORD_PRESS;
}

// The left Windows key is the only key whose handlers return 0.
static int processOf(uint64_t vk) {
    return vk == KEY_LWIN ? 0 : 1;
}

KeyResult key_down(uint64_t vk, bool shift, bool ctrl) {
    int process = processOf(vk);
    if (vk == KEY_SHIFT) return {chordPress(ctrl), process};
    if (vk == KEY_CONTROL) return {chordPress(shift), process};
    for (const KeyRow &row : keyDownTable)
        if (row.vk == vk) return {row.code[(shift ? 1 : 0) | (ctrl ? 2 : 0)], process};
    return {defaultCode((uint8_t)vk, shift, ctrl), process};
}

KeyResult key_up(uint64_t vk) {
    int process = processOf(vk);
    if (vk == KEY_SHIFT || vk == KEY_CONTROL) {
        if (!gCtlShift) return {0, process};
        gCtlShift = 0;
        return {CODE_CHORD_RELEASE, process};
    }
    if (vk == KEY_LWIN) return {CODE_LWIN_RELEASE, process};
    return {0, process};
}

uint8_t sys_key_down(uint64_t vk, bool shift) {
    if (vk != KEY_F10) return 0;
    return shift ? CODE_SHIFT_F10 : CODE_F10;
}

uint8_t key_event(bool press, uint64_t vk, bool shift, bool ctrl, bool alt) {
    if (vk == KEY_SHIFT) shift = press;
    if (vk == KEY_CONTROL) ctrl = press;
    if (vk == KEY_MENU) alt = press;
    bool system = (alt && !ctrl) || vk == KEY_F10;
    if (!press) return system ? 0 : key_up(vk).code;
    if (system) return sys_key_down(vk, shift);
    return key_down(vk, shift, ctrl).code;
}

void keymap_reset() {
    gCtlShift = 0;
}
