// Fuzzes the reading of a page's messages: any bytes, JSON or not, with
// members of any type. Whatever is read is one of the kinds with what that
// kind carries; anything else is refused, never a crash (key and code
// strings of any content go through the key tables).
#include "web/web_parse.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    PageMessage m;
    if (!web_parse((const char *)data, size, m)) return 0;
    check(m.kind == PageMessage::KEY || m.kind == PageMessage::CONTROL ||
          m.kind == PageMessage::CLAIM);
    if (m.kind != PageMessage::CLAIM) return 0;
    check(std::strlen(m.id) == WEB_CLAIM_CHARS);
    for (const char *c = m.id; *c; c++)
        check((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'));
    return 0;
}
