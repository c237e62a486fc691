// Browser key events to Windows virtual keys: the page sends each key's DOM
// `key` (what it types) and `code` (where it is), and the key tables take the
// virtual key Windows would give the same key.
#pragma once
#include <cstdint>

// The virtual-key code of a DOM key event; 0 for a key the modem has no use
// for. Named keys go by `key`, the keypad, the digit row and the extra key of
// 102-key keyboards by `code`; a key that types a Latin letter is that letter,
// one that types punctuation with a Windows number is that number (US
// keyboard, and German where it differs); any other key goes by its place on
// the US keyboard, as Windows numbers the keys of Cyrillic or Greek layouts.
uint8_t web_vk(const char *key, const char *code);
