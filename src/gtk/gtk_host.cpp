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

// Main thread: the next frame paints the map. A change after this point asks again.
static gboolean queueRepaint(gpointer) {
    repaintWaiting = false;
    gtk_widget_queue_draw(lcdArea);
    return G_SOURCE_REMOVE;
}

// Never paints here: the reader only asks the main loop to.
static void requestRepaint() {
    if (!repaintWaiting.exchange(true))
        g_idle_add_full(G_PRIORITY_DEFAULT, queueRepaint, nullptr, nullptr);
}

void connect_interpreter(GtkWidget *area) {
    lcdArea = area;
    rx_set_host({requestRepaint, map_lock, map_unlock});
}
