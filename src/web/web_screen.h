// What the browsers are shown, kept from the host on the main loop: the LCD
// as packed pixels in 8 bands of 8 pixel rows (one per text row), the 8 rows
// as text, and what the change reader said, with a count that pages can
// follow at their own pace.
#pragma once
#include "app/change_reader.h"
#include "link/link_status.h"

#include <cstdint>

enum {
    WEB_BANDS = 8,
    WEB_BAND_BYTES = 128,                         // 8 pixel rows of 16 bytes
    WEB_FRAME_BYTES = WEB_BANDS * WEB_BAND_BYTES, // 128 x 64 pixels, 1 bit each
    WEB_SAID_KEPT = 128,                          // announcements a slow page may catch up on
    WEB_ROW_BYTES = SPEECH_TEXT_MAX + ROW1_WORDS_MAX,
};

// The pixels, top row first, 16 bytes a row, the leftmost pixel in the
// highest bit; a set bit is a set pixel.
extern uint8_t webPixels[WEB_FRAME_BYTES];

// Starts following the host's frames and speech, and the link's state;
// `changed` runs when the map may have changed (`pixels`), with the text rows
// that changed (bit r for row r + 1), when something was said, or with
// `link` when the link's state changed.
void screen_start(void (*changed)(bool pixels, unsigned rows, bool said, bool link));

// Brings webPixels up to date with the map if it may have changed; returns
// the bands that changed (bit b for band b, the top one 0).
unsigned screen_take_pixels();

// For a page that has just connected: the map is to be taken afresh (the
// start-up screen is drawn without a frame), and the rows read from it if
// the change reader has not told them yet.
void screen_refresh();

// Text row 0..7 as UTF-8: row 1 in words when the status line shows.
const char *screen_row(int row);

// Announcements so far; announcement `n` (0-based) is kept while
// n + WEB_SAID_KEPT > screen_said_count().
uint64_t screen_said_count();
// Its text, and whether it is typed characters (which read best joined).
const char *screen_said(uint64_t n, bool *typed);

LinkState screen_link();
