// The text messages a page sends, read and checked without the server, so
// that they can be fuzzed. Each kind has exactly its members, each of its
// type; anything else is no message at all.
#pragma once
#include <cstddef>
#include <cstdint>

enum { WEB_CLAIM_CHARS = 32 };

struct PageMessage {
    enum Kind { KEY, CONTROL, CLAIM } kind;
    // KEY: {"t":"key","down":B,"key":S,"code":S,"shift":B,"ctrl":B,"alt":B},
    // the key as its Windows virtual key (0: none the modem knows).
    bool down, shift, ctrl, alt;
    uint8_t vk;
    // CONTROL: {"t":"control","take":B}.
    bool take;
    // CLAIM: {"t":"claim","id":S,"want":B}, sent first on each connection:
    // the page's own random id (lowercase hex), kept while its tab lives, and
    // whether it asks for control (it held it last, or has just been opened).
    char id[WEB_CLAIM_CHARS + 1];
    bool want;
};

// Reads one message of `size` bytes; false for anything that is not one of
// the messages above.
bool web_parse(const char *text, size_t size, PageMessage &out);
