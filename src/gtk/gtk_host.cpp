#include "gtk/gtk_host.h"
#include "link/rx_stream.h"

#include <atomic>
#include <mutex>

static std::mutex mapMutex;
static GtkWidget *lcdArea;
static std::atomic<bool> repaintWaiting;

void map_lock() {
    mapMutex.lock();
}

void map_unlock() {
    mapMutex.unlock();
}

static gboolean queueRepaint(gpointer) {
    gtk_widget_queue_draw(lcdArea);
    return G_SOURCE_REMOVE;
}

// Never paints here: the reader only asks the main loop for a frame.
static void requestRepaint() {
    if (!repaintWaiting.exchange(true)) g_idle_add(queueRepaint, nullptr);
}

void map_snapshot_for_paint(LcdImage image) {
    repaintWaiting = false;
    map_lock();
    lcd_snapshot(image);
    map_unlock();
}

void connect_interpreter(GtkWidget *area) {
    lcdArea = area;
    rx_set_host({requestRepaint, map_lock, map_unlock, nullptr});
}
