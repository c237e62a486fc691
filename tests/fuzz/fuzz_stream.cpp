// Fuzzes the display stream: the interpreter with the text engine and the
// status line behind it, from the program-start state.
#include "lcd/lcd.h"
#include "lcd/status.h"
#include "link/rx_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lcd_reset();
    status_reset();
    rx_reset();
    for (size_t k = 0; k < size; k++) {
        rx_CallBack(0, data[k]);
        // Timer ticks may land between any two bytes.
        if (data[k] == 0x5A) flash_tick();
    }
    uint8_t stray = 0; // any bit but the lowest, in any pixel
    for (const auto &column : map)
        for (uint8_t pixel : column)
            stray |= pixel & 0xFE;
    if (stray) std::abort();
    uint8_t state = rx_state();
    if (state > 34 || state == 19 || state == 20) std::abort();
    if (gSigs > 11 || flashTimer < 0 || flashTimer > FLASH_TICKS) std::abort();
    return 0;
}
