#include "web/web_keys.h"

#include <cstring>

struct NamedKey {
    const char *name;
    uint8_t vk;
};

// Keys by their DOM `key` value.
static const NamedKey namedKeys[] = {
    {"Backspace", 0x08},   {"Tab", 0x09},        {"Clear", 0x0C},      {"Enter", 0x0D},
    {"Shift", 0x10},       {"Control", 0x11},    {"Alt", 0x12},        {"AltGraph", 0x12},
    {"Pause", 0x13},       {"CapsLock", 0x14},   {"Escape", 0x1B},     {" ", 0x20},
    {"PageUp", 0x21},      {"PageDown", 0x22},   {"End", 0x23},        {"Home", 0x24},
    {"ArrowLeft", 0x25},   {"ArrowUp", 0x26},    {"ArrowRight", 0x27}, {"ArrowDown", 0x28},
    {"PrintScreen", 0x2C}, {"Insert", 0x2D},     {"Delete", 0x2E},     {"ContextMenu", 0x5D},
    {"NumLock", 0x90},     {"ScrollLock", 0x91}, {"F1", 0x70},         {"F2", 0x71},
    {"F3", 0x72},          {"F4", 0x73},         {"F5", 0x74},         {"F6", 0x75},
    {"F7", 0x76},          {"F8", 0x77},         {"F9", 0x78},         {"F10", 0x79},
    {"F11", 0x7A},         {"F12", 0x7B},        {"F13", 0x7C},        {"F14", 0x7D},
    {"F15", 0x7E},         {"F16", 0x7F},        {"F17", 0x80},        {"F18", 0x81},
    {"F19", 0x82},         {"F20", 0x83},        {"F21", 0x84},        {"F22", 0x85},
    {"F23", 0x86},         {"F24", 0x87},
};

// Keys by their DOM `code`, taken before what they type: the Windows key
// (left or right, which `key` does not tell), the keypad's operators and
// Enter, the digit row (its keys type other characters with Shift, and
// punctuation in some layouts) and the extra key of 102-key keyboards.
static const NamedKey placedKeys[] = {
    {"MetaLeft", 0x5B},    {"MetaRight", 0x5C},      {"OSLeft", 0x5B},
    {"OSRight", 0x5C},     {"NumpadMultiply", 0x6A}, {"NumpadAdd", 0x6B},
    {"NumpadComma", 0x6C}, {"NumpadSubtract", 0x6D}, {"NumpadDivide", 0x6F},
    {"NumpadEnter", 0x0D}, {"Digit0", 0x30},         {"Digit1", 0x31},
    {"Digit2", 0x32},      {"Digit3", 0x33},         {"Digit4", 0x34},
    {"Digit5", 0x35},      {"Digit6", 0x36},         {"Digit7", 0x37},
    {"Digit8", 0x38},      {"Digit9", 0x39},         {"IntlBackslash", 0xE2},
};

// German keys that Windows numbers apart from the US keyboard, by where they
// are and what they type (plain or with Shift), so that no other layout's key
// is taken for one.
struct PlacedChar {
    const char *code, *key;
    uint8_t vk;
};

static const PlacedChar germanKeys[] = {
    {"Minus", "ß", 0xDB},       {"Minus", "?", 0xDB},        {"BracketLeft", "ü", 0xBA},
    {"BracketLeft", "Ü", 0xBA}, {"Semicolon", "ö", 0xC0},    {"Semicolon", "Ö", 0xC0},
    {"Quote", "ä", 0xDE},       {"Quote", "Ä", 0xDE},        {"Backslash", "#", 0xBF},
    {"Backslash", "'", 0xBF},   {"Backquote", "^", 0xDC},    {"Backquote", "°", 0xDC},
    {"Equal", "´", 0xDD},       {"BracketRight", "+", 0xBB}, {"BracketRight", "*", 0xBB},
    {"Slash", "-", 0xBD},       {"Slash", "_", 0xBD},
};

// The US keyboard's punctuation by the character it types, plain and with
// Shift: what Windows gives a Latin layout with no numbering of its own,
// wherever the layout puts the key (Dvorak).
static const NamedKey typedPunctuation[] = {
    {";", 0xBA}, {":", 0xBA}, {"=", 0xBB}, {"+", 0xBB},  {",", 0xBC},  {"<", 0xBC},
    {"-", 0xBD}, {"_", 0xBD}, {".", 0xBE}, {">", 0xBE},  {"/", 0xBF},  {"?", 0xBF},
    {"`", 0xC0}, {"~", 0xC0}, {"[", 0xDB}, {"{", 0xDB},  {"\\", 0xDC}, {"|", 0xDC},
    {"]", 0xDD}, {"}", 0xDD}, {"'", 0xDE}, {"\"", 0xDE},
};

// The US keyboard's main block by `code`: its letters and punctuation.
static const NamedKey usPlaces[] = {
    {"Minus", 0xBD},     {"Equal", 0xBB},     {"BracketLeft", 0xDB}, {"BracketRight", 0xDD},
    {"Backslash", 0xDC}, {"Semicolon", 0xBA}, {"Quote", 0xDE},       {"Backquote", 0xC0},
    {"Comma", 0xBC},     {"Period", 0xBE},    {"Slash", 0xBF},
};

template <int N> static uint8_t lookUp(const NamedKey (&table)[N], const char *name) {
    for (const NamedKey &k : table)
        if (std::strcmp(k.name, name) == 0) return k.vk;
    return 0;
}

// The keypad with Num Lock on types digits and a decimal point; with it off
// its keys are the navigation keys they are named after in `key`.
static uint8_t keypadVk(const char *key, const char *code) {
    const char *rest = code + 6; // after "Numpad"
    if (rest[0] >= '0' && rest[0] <= '9' && rest[1] == 0)
        return key[0] >= '0' && key[0] <= '9' && key[1] == 0 ? (uint8_t)(0x60 + rest[0] - '0')
                                                             : lookUp(namedKeys, key);
    if (std::strcmp(rest, "Decimal") == 0) return std::strcmp(key, "Delete") == 0 ? 0x2E : 0x6E;
    return lookUp(placedKeys, code);
}

uint8_t web_vk(const char *key, const char *code) {
    if (std::strncmp(code, "Numpad", 6) == 0) return keypadVk(key, code);
    if (uint8_t vk = lookUp(placedKeys, code)) return vk;
    if (uint8_t vk = lookUp(namedKeys, key)) return vk;
    if (key[0] != 0 && key[1] == 0) {
        char c = key[0];
        if (c >= 'a' && c <= 'z') return (uint8_t)(c - 'a' + 0x41);
        if (c >= 'A' && c <= 'Z') return (uint8_t)(c - 'A' + 0x41);
    }
    for (const PlacedChar &k : germanKeys)
        if (std::strcmp(k.code, code) == 0 && std::strcmp(k.key, key) == 0) return k.vk;
    if (uint8_t vk = lookUp(typedPunctuation, key)) return vk;
    if (std::strncmp(code, "Key", 3) == 0 && code[3] >= 'A' && code[3] <= 'Z' && code[4] == 0)
        return (uint8_t)code[3];
    return lookUp(usPlaces, code);
}
