// Fuzzes the key translation with arbitrary sequences of key messages and
// modifier states. Three bytes a message: kind and modifiers, then the
// virtual-key code in two bytes (so codes above 0xFF occur too).
#include "link/keymap.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

static void check(bool ok) {
    if (!ok) std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    keymap_reset();
    for (size_t k = 0; k + 3 <= size; k += 3) {
        uint8_t kind = (data[k] & 0x0F) % 3; // key down, key up, system key down
        bool shift = data[k] & 0x10, ctrl = data[k] & 0x20;
        uint64_t vk = data[k + 1] | (uint64_t)data[k + 2] << 8;
        bool modifier = vk == 0x10 || vk == 0x11;
        int before = gCtlShift;
        if (kind == 2) {
            uint8_t code = sys_key_down(vk, shift);
            check(code == 0 || vk == 0x79);
            check(gCtlShift == before);
            continue;
        }
        KeyResult r = kind == 0 ? key_down(vk, shift, ctrl) : key_up(vk);
        check(r.process == (vk == 0x5B ? 0 : 1));
        check(gCtlShift == 0 || gCtlShift == 1);
        if (!modifier) {
            check(gCtlShift == before);
            continue;
        }
        // Shift and Ctrl send only the chord codes, each exactly when the flag flips.
        check(r.code == (gCtlShift == before ? 0 : gCtlShift ? 0xF6 : 0xF7));
        check(kind == 0 ? gCtlShift >= before : gCtlShift == 0);
    }
    return 0;
}
