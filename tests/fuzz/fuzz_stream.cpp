// Fuzzes the display stream: the interpreter with the text engine and the
// status line behind it, from the program-start state, and the change reader
// that screen readers are told from, taken at any point as a window would.
#include "app/change_reader.h"
#include "lcd/lcd.h"
#include "lcd/status.h"
#include "link/rx_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Every event fits the view it was taken with; the view holds 8 lines.
static void take(int64_t now) {
    static Speech heard[SPEECH_MAX];
    static TextView view;
    int count = change_reader_take(heard, view, now);
    if (count < 0 || count > SPEECH_MAX) std::abort();
    int lines = 1;
    for (int k = 0; k < view.bytes; k++)
        lines += view.text[k] == '\n';
    if (lines != LCD_ROWS || (int)std::strlen(view.text) != view.bytes) std::abort();
    if (view.caret < 0 || view.caret > view.chars) std::abort();
    for (int k = 0; k < count; k++) {
        const Speech &s = heard[k];
        if (s.kind == SPEECH_TYPED &&
            (s.count < 1 || s.count > LCD_COLS || s.offset < 0 || s.offset + s.count > view.chars))
            std::abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    lcd_reset();
    status_reset();
    rx_reset();
    change_reader_reset();
    rx_set_host({nullptr, nullptr, nullptr, change_reader_note});
    int64_t now = 0;
    for (size_t k = 0; k < size; k++) {
        rx_CallBack(0, data[k]);
        // Timer ticks and frames may land between any two bytes.
        if (data[k] == 0x5A) flash_tick();
        if (data[k] == 0x5B) take(now += 100);
    }
    take(now + 1000);
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
