#include "web/web_screen.h"
#include "gtk/gtk_host.h"
#include "gtk/gtk_serial.h"

#include <glib.h>

#include <cstring>

enum { LINK_POLL_MS = 250 };

uint8_t webPixels[WEB_FRAME_BYTES];

static void (*notify)(bool, unsigned, bool, bool);
static char rows[LCD_ROWS][WEB_ROW_BYTES];
static struct {
    bool typed;
    char text[SPEECH_TEXT_MAX];
} said[WEB_SAID_KEPT];
static uint64_t saidCount;
static LinkState linkState;
static bool heard;       // the change reader has told the rows
static bool pixelsStale; // the map changed since the pixels were taken

unsigned screen_take_pixels() {
    if (!pixelsStale) return 0;
    pixelsStale = false;
    LcdImage image;
    map_snapshot_for_paint(image);
    uint8_t packed[WEB_FRAME_BYTES] = {};
    for (int y = 0; y < LCD_HEIGHT; y++)
        for (int x = 0; x < LCD_WIDTH; x++)
            if (image[y][x]) packed[y * 16 + x / 8] |= (uint8_t)(0x80 >> (x % 8));
    unsigned bands = 0;
    for (int b = 0; b < WEB_BANDS; b++) {
        uint8_t *band = webPixels + b * WEB_BAND_BYTES;
        if (std::memcmp(band, packed + b * WEB_BAND_BYTES, WEB_BAND_BYTES) != 0) {
            std::memcpy(band, packed + b * WEB_BAND_BYTES, WEB_BAND_BYTES);
            bands |= 1u << b;
        }
    }
    return bands;
}

// The pixels are taken when a page is sent them, not at every frame.
static void onFrame() {
    pixelsStale = true;
    notify(true, 0, false, false);
}

static void say(bool typed, const char *text) {
    auto &entry = said[saidCount % WEB_SAID_KEPT];
    entry.typed = typed;
    g_strlcpy(entry.text, text, sizeof entry.text);
    saidCount++;
}

// The rows from the view's lines; returns those that changed.
static unsigned takeRows(const TextView &view) {
    unsigned changed = 0;
    for (int r = 0; r < LCD_ROWS; r++) {
        int from = view.lineByte[r], to = view.lineByte[r + 1] - 1; // without the '\n'
        if (to < from) to = from;
        char line[WEB_ROW_BYTES];
        g_strlcpy(line, view.text + from, MIN((size_t)(to - from + 1), sizeof line));
        if (std::strcmp(line, rows[r]) != 0) {
            std::strcpy(rows[r], line);
            changed |= 1u << r;
        }
    }
    return changed;
}

// What was said comes from the events; the signal meter's movement and other
// quiet changes show only in the rows.
static void onSpeech(const Speech *events, int count, const TextView &view) {
    heard = true;
    unsigned changed = takeRows(view);
    for (int i = 0; i < count; i++)
        if (events[i].kind != SPEECH_QUIET) say(events[i].kind == SPEECH_TYPED, events[i].text);
    if (changed || count) notify(false, changed, count > 0, false);
}

// The link's state changes on the reader's thread and in the setup dialog;
// looking a few times a second catches both. The change reader tells it too.
static gboolean pollLink(gpointer) {
    LinkState now = link_state();
    if (now != linkState) {
        linkState = now;
        notify(false, 0, false, true);
        tell_link_state(now);
    }
    return G_SOURCE_CONTINUE;
}

void screen_start(void (*changed)(bool, unsigned, bool, bool)) {
    notify = changed;
    pixelsStale = true;
    screen_take_pixels();
    linkState = link_state();
    on_frame(onFrame);
    on_speech(onSpeech);
    g_timeout_add(LINK_POLL_MS, pollLink, nullptr);
}

// Before the first frame nothing has told the rows yet: ask for them.
void screen_refresh() {
    pixelsStale = true;
    if (!heard) tell_speech();
}

const char *screen_row(int row) {
    return rows[row];
}

uint64_t screen_said_count() {
    return saidCount;
}

const char *screen_said(uint64_t n, bool *typed) {
    *typed = said[n % WEB_SAID_KEPT].typed;
    return said[n % WEB_SAID_KEPT].text;
}

LinkState screen_link() {
    return linkState;
}
