#include "gtk/gtk_host.h"
#include "lcd/status.h"
#include "link/rx_stream.h"

#include <glib.h>

#include <atomic>
#include <cstdint>
#include <mutex>

enum {
    TICK_MS = 100,
    LISTENERS = 8,
    // Frames at most this often while changes keep coming: as often as a
    // screen shows them, and as the browser panel sends them.
    FRAME_US = G_USEC_PER_SEC / 60,
};

static std::mutex mapMutex;
static std::atomic<bool> frameWaiting;
static std::atomic<int64_t> frameAt{INT64_MIN / 2}; // when the last frame began, monotonic
static void (*frameListeners[LISTENERS])();
static void (*speechListeners[LISTENERS])(const Speech *, int, const TextView &);
static Speech heard[SPEECH_MAX];
static TextView view;

void map_lock() {
    mapMutex.lock();
}

void map_unlock() {
    mapMutex.unlock();
}

template <typename Listener> static void add(Listener (&list)[LISTENERS], Listener listener) {
    for (Listener &slot : list)
        if (!slot) {
            slot = listener;
            return;
        }
}

void on_frame(void (*frame)()) {
    add(frameListeners, frame);
}

void on_speech(void (*speech)(const Speech *, int, const TextView &)) {
    add(speechListeners, speech);
}

// The listeners run outside the lock: a screen reader's bridge reads the text
// back while it is being told, from the view, never from the map.
static void tellSpeech(bool always) {
    map_lock();
    int count = change_reader_take(heard, view, g_get_monotonic_time() / 1000);
    map_unlock();
    if (!count && !always) return;
    for (auto speech : speechListeners)
        if (speech) speech(heard, count, view);
}

static void tellFrame() {
    for (auto frame : frameListeners)
        if (frame) frame();
    tellSpeech(true);
}

static gboolean frameDue(gpointer) {
    frameAt = g_get_monotonic_time();
    frameWaiting = false;
    tellFrame();
    return G_SOURCE_REMOVE;
}

// Never paints here: the reader only asks the main loop for a frame. The
// first change after a quiet spell is shown at once; while changes keep
// coming, they are merged into a frame every FRAME_US, which is as often as
// a screen shows them, rather than one for each command.
static void requestFrame() {
    if (frameWaiting.exchange(true)) return;
    int64_t wait = frameAt + FRAME_US - g_get_monotonic_time();
    if (wait <= 0)
        g_idle_add(frameDue, nullptr);
    else
        g_timeout_add_full(G_PRIORITY_DEFAULT_IDLE, (guint)((wait + 999) / 1000), frameDue, nullptr,
                           nullptr);
}

// A frame on its way tells what was heard with the pixels it shows; the tick
// tells only what comes without one (a speed held back, the link's state).
static gboolean onTick(gpointer) {
    map_lock();
    bool expired = flash_tick();
    map_unlock();
    if (expired)
        tellFrame();
    else if (!frameWaiting)
        tellSpeech(false);
    return G_SOURCE_CONTINUE;
}

void tell_speech() {
    tellSpeech(true);
}

void tell_link_state(LinkState state) {
    static LinkState told = LINK_CLOSED;
    if (state == told) return;
    told = state;
    map_lock();
    change_reader_link(state);
    map_unlock();
    tellSpeech(false);
}

void map_snapshot_for_paint(LcdImage image) {
    map_lock();
    lcd_snapshot(image);
    map_unlock();
}

void connect_interpreter() {
    rx_set_host({requestFrame, map_lock, map_unlock, change_reader_note});
    g_timeout_add(TICK_MS, onTick, nullptr);
}
