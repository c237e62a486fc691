// Browser key events to virtual keys, for what WebDriver cannot type in the
// browser test: the keypad with Num Lock off, the lock keys, and layouts
// other than the US one.
#include "web/web_keys.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char *key, *code;
    int vk;
};

TEST(WebKeys, EveryKindOfKeyGetsWhatWindowsGivesIt) {
    const Case cases[] = {
        {"a", "KeyA", 0x41},
        {"A", "KeyA", 0x41},
        {"!", "Digit1", 0x31},
        {"F10", "F10", 0x79},
        {" ", "Space", 0x20},
        {"Meta", "MetaRight", 0x5C},
        {"CapsLock", "CapsLock", 0x14},
        {"NumLock", "NumLock", 0x90},
        // The keypad with Num Lock on, then off.
        {"7", "Numpad7", 0x67},
        {".", "NumpadDecimal", 0x6E},
        {"*", "NumpadMultiply", 0x6A},
        {"Home", "Numpad7", 0x24},
        {"Clear", "Numpad5", 0x0C},
        {"Delete", "NumpadDecimal", 0x2E},
        {"Enter", "NumpadEnter", 0x0D},
        // German: its own numbers, its Z where the US keyboard has Y, and the
        // extra key of 102-key keyboards.
        {"ß", "Minus", 0xDB},
        {"?", "Minus", 0xDB},
        {"ü", "BracketLeft", 0xBA},
        {"#", "Backslash", 0xBF},
        {"z", "KeyY", 0x5A},
        {"<", "IntlBackslash", 0xE2},
        // Dvorak keeps the US numbers of its punctuation; Cyrillic letters and
        // dead keys go by their place.
        {"'", "KeyQ", 0xDE},
        {"ф", "KeyA", 0x41},
        {"Dead", "Equal", 0xBB},
        // Keys the modem has no use for.
        {"Unidentified", "", 0},
        {"AudioVolumeUp", "AudioVolumeUp", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(web_vk(c.key, c.code), c.vk) << c.key << " " << c.code;
}

} // namespace
