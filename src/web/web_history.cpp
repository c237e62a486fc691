#include "web/web_history.h"
#include "app/history.h"
#include "gtk/gtk_host.h"

#include <json-glib/json-glib.h>

// Lines in one message: about 40 kB, sent at most once a frame, so that a
// page that connects has the whole history within a few hundred milliseconds
// while its send queue stays short.
enum { LINES_PER_MESSAGE = 1024 };

static HistoryLine taken[LINES_PER_MESSAGE];

uint64_t web_history_first() {
    map_lock();
    uint64_t first = history_first();
    map_unlock();
    return first;
}

bool web_history_waiting(uint64_t next) {
    map_lock();
    uint64_t end = history_end();
    map_unlock();
    return next < end;
}

// Copies the lines under the lock, which the reader holds while it
// interprets; they are made into the message after.
static int take(uint64_t &next) {
    map_lock();
    int count = history_take(next, taken, LINES_PER_MESSAGE);
    map_unlock();
    return count;
}

void web_history_send(SoupWebsocketConnection *conn, uint64_t &next) {
    int count = take(next);
    if (!count) return;
    JsonBuilder *b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "t");
    json_builder_add_string_value(b, "history");
    json_builder_set_member_name(b, "keep");
    json_builder_add_int_value(b, HISTORY_KEEP);
    json_builder_set_member_name(b, "lines");
    json_builder_begin_array(b);
    char entry[HISTORY_ENTRY_MAX];
    for (int k = 0; k < count; k++) {
        history_entry(taken[k], "", entry, sizeof entry);
        json_builder_add_string_value(b, entry);
    }
    json_builder_end_array(b);
    json_builder_end_object(b);
    JsonNode *root = json_builder_get_root(b);
    char *text = json_to_string(root, FALSE);
    soup_websocket_connection_send_text(conn, text);
    g_free(text);
    json_node_unref(root);
    g_object_unref(b);
}
