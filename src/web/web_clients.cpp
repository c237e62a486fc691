#include "web/web_clients.h"
#include "gtk/gtk_serial.h"
#include "link/keymap.h"
#include "web/web_history.h"
#include "web/web_keys.h"
#include "web/web_messages.h"
#include "web/web_screen.h"

#include <json-glib/json-glib.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

enum : int64_t {
    FRAME_US = G_USEC_PER_SEC / 60,  // at most 60 updates a second per page
    RETRY_MS = 50,                   // a page behind on reading is looked at again
    BACKLOG_BYTES = 16 * 1024,       // unsent in the kernel: the page is behind
    STALL_US = 10 * G_USEC_PER_SEC,  // behind this long: it has stopped reading
    PING_S = 10,                     // pages answer pings with pongs
    SILENT_US = 30 * G_USEC_PER_SEC, // nothing heard this long: gone
    MESSAGE_MAX = 256,               // bytes in a message from a page
    KEYS_PER_S = 50,                 // key presses a second from a page
    MESSAGES_PER_S = 100,            // and messages of any kind
    WATCH_MS = 1000,
};

enum : gushort { CLOSE_TRY_AGAIN_LATER = 1013 };

enum { HELD_SHIFT, HELD_CTRL, HELD_ALT, HELD_KEYS };
static const uint8_t heldVk[HELD_KEYS] = {0x10, 0x11, 0x12};

// What a page may still send now: see spend().
struct Budget {
    double left;
    int64_t at;
    bool over;
};

struct Client {
    SoupWebsocketConnection *conn;
    GSocket *socket;
    char address[64];
    bool active;       // counted, sent to; false once it is being closed
    unsigned bands;    // pixels changed since they were last sent to it
    unsigned rows;     // and text rows
    uint64_t saidSeen; // announcements sent to it
    int64_t sentAt, stalledSince, heardAt;
    Budget keys, messages;
    guint timer; // a delayed update
    bool held[HELD_KEYS];
    uint64_t historyNext; // the next history line to send it
};

static WebOptions options;
static Client *active[WEB_CLIENTS_MAX];
static int count;
static Client *controller;
static guint tickSource;
static int64_t tickedAt;

void web_log_refusal(const char *address, const char *reason) {
    std::fprintf(stderr, "q72display: refused %s: %s\n", address, reason);
}

int clients_count() {
    return count;
}

static bool isOpen(const Client &c) {
    return c.active && soup_websocket_connection_get_state(c.conn) == SOUP_WEBSOCKET_STATE_OPEN;
}

static void sendText(Client &c, char *text) {
    if (isOpen(c)) soup_websocket_connection_send_text(c.conn, text);
    g_free(text);
}

// "you", "other" (another page holds control), "free" (nobody does: take
// it) or "off" (the server lets no page send keys).
static const char *controlFor(const Client &c) {
    if (!options.control) return "off";
    if (!controller) return "free";
    return controller == &c ? "you" : "other";
}

static void sendState(Client &c) {
    sendText(c, message_state(link_state_text(screen_link()), count, controlFor(c)));
}

static void tellState() {
    for (int i = 0; i < count; i++)
        sendState(*active[i]);
}

// The update a page is sent as the screen changes, one binary message: a
// byte with bit b set for each band b (8 pixel rows, top first) that
// follows, 128 bytes each, then the JSON of {"t":"text"} when rows changed
// or something was said. Pages in step are sent the same message, made once
// until the screen changes again.
static struct {
    unsigned bands, rows;
    uint64_t saidFrom, saidTo;
    GBytes *message; // null: none made since the screen changed
} made;

static void forgetMade() {
    if (made.message) g_bytes_unref(made.message);
    made.message = nullptr;
}

static GBytes *updateFor(Client &c) {
    uint64_t said = screen_said_count();
    if (!made.message || made.bands != c.bands || made.rows != c.rows ||
        made.saidFrom != c.saidSeen || made.saidTo != said) {
        forgetMade();
        made = {c.bands, c.rows, c.saidSeen, said, nullptr};
        GByteArray *bytes = g_byte_array_sized_new(1 + WEB_FRAME_BYTES);
        uint8_t mask = (uint8_t)c.bands;
        g_byte_array_append(bytes, &mask, 1);
        for (int b = 0; b < WEB_BANDS; b++)
            if (c.bands & (1u << b))
                g_byte_array_append(bytes, webPixels + b * WEB_BAND_BYTES, WEB_BAND_BYTES);
        if (c.rows || c.saidSeen != said) {
            uint64_t seen = c.saidSeen;
            char *text = message_text(c.rows, seen);
            g_byte_array_append(bytes, (const uint8_t *)text, (guint)std::strlen(text));
            g_free(text);
        }
        made.message = g_byte_array_free_to_bytes(bytes);
    }
    return made.message;
}

static void sendUpdate(Client &c) {
    soup_websocket_connection_send_message(c.conn, SOUP_WEBSOCKET_DATA_BINARY, updateFor(c));
    c.bands = c.rows = 0;
    c.saidSeen = made.saidTo;
}

// A page that reads slower than it is sent to leaves bytes unsent in the
// kernel; beyond that libsoup would queue without limit. Such a page gets no
// update until it has caught up, and then only the latest state.
static bool behind(Client &c, int64_t now) {
    int unsent = 0;
    bool full = ioctl(g_socket_get_fd(c.socket), SIOCOUTQ, &unsent) == 0 && unsent > BACKLOG_BYTES;
    if (!full && g_socket_condition_check(c.socket, G_IO_OUT)) {
        c.stalledSince = 0;
        return false;
    }
    if (!c.stalledSince) c.stalledSince = now;
    return true;
}

static gboolean updateLater(gpointer data);

// `now` is the tick's time for all pages updated on one tick, so that the
// next tick finds all of them due, rather than each a little later on a
// timer of its own.
static void update(Client &c, int64_t now) {
    if (!isOpen(c) || c.timer) return;
    bool screen = c.bands || c.rows || c.saidSeen != screen_said_count();
    if (!screen && !web_history_waiting(c.historyNext)) return;
    int64_t wait = c.sentAt + FRAME_US - now;
    if (wait <= 0 && behind(c, now)) wait = RETRY_MS * 1000;
    if (wait > 0) {
        c.timer = g_timeout_add((guint)((wait + 999) / 1000), updateLater, &c);
        return;
    }
    web_history_send(c.conn, c.historyNext);
    if (screen) sendUpdate(c);
    c.sentAt = now;
    // The history of a page that has just connected goes in several messages.
    if (web_history_waiting(c.historyNext))
        c.timer = g_timeout_add((guint)(FRAME_US / 1000), updateLater, &c);
}

static gboolean updateLater(gpointer data) {
    Client &c = *(Client *)data;
    c.timer = 0;
    update(c, g_get_monotonic_time());
    return G_SOURCE_REMOVE;
}

// All pages are brought up to date on one clock, at most 60 times a
// second: the map is taken once for all of them, and only when it changed.
static gboolean tick(gpointer) {
    tickSource = 0;
    tickedAt = g_get_monotonic_time();
    unsigned bands = screen_take_pixels();
    if (bands) forgetMade();
    for (int i = 0; i < count; i++) {
        active[i]->bands |= bands;
        update(*active[i], tickedAt);
    }
    return G_SOURCE_REMOVE;
}

// A tick that is due runs as soon as the host's frame is over, before the
// window paints that frame, so that pages wait for no one.
static void scheduleTick() {
    if (tickSource) return;
    int64_t wait = tickedAt + FRAME_US - g_get_monotonic_time();
    tickSource = wait > 0 ? g_timeout_add((guint)((wait + 999) / 1000), tick, nullptr)
                          : g_idle_add_full(G_PRIORITY_HIGH_IDLE, tick, nullptr, nullptr);
}

static void onScreen(bool pixels, unsigned rows, bool said, bool link) {
    if (rows) forgetMade();
    for (int i = 0; i < count; i++)
        active[i]->rows |= rows;
    if (link) tellState();
    if (count && (pixels || rows || said)) scheduleTick();
}

static void sendKey(Client &c, bool press, uint8_t vk, bool shift, bool ctrl, bool alt) {
    for (int k = 0; k < HELD_KEYS; k++)
        if (vk == heldVk[k]) c.held[k] = press;
    uint8_t code = key_event(press, vk, shift, ctrl, alt);
    if (code) link_send(code);
}

// A page that leaves or gives control up with modifiers down (Ctrl+Shift+W
// closes the tab) lets them go, so the chord ends as it would on a keyboard.
static void letGo(Client &c) {
    for (int k = HELD_KEYS - 1; k >= 0; k--)
        if (c.held[k])
            sendKey(c, false, heldVk[k], c.held[HELD_SHIFT], c.held[HELD_CTRL], c.held[HELD_ALT]);
}

// Control goes to the page connected longest after `from`, if any.
static void passControl(Client *from) {
    if (controller != from) return;
    if (from) letGo(*from);
    controller = nullptr;
    for (int i = 0; i < count && options.control; i++)
        if (active[i] != from) {
            controller = active[i];
            break;
        }
}

static void removeActive(Client &c) {
    if (!c.active) return;
    c.active = false;
    int i = 0;
    while (active[i] != &c)
        i++;
    std::memmove(active + i, active + i + 1, (size_t)(count - i - 1) * sizeof active[0]);
    count--;
    passControl(&c);
    tellState();
}

static void onClosed(SoupWebsocketConnection *, gpointer data) {
    Client *c = (Client *)data;
    removeActive(*c);
    if (c->timer) g_source_remove(c->timer);
    g_signal_handlers_disconnect_by_data(c->conn, c);
    g_object_unref(c->conn);
    g_object_unref(c->socket);
    g_free(c);
}

// Closes a page's connection for `reason`. One that no longer reads would
// never see the close frame: its socket is shut at once.
static void drop(Client &c, gushort code, const char *reason, bool shut = false) {
    if (!c.active) return;
    web_log_refusal(c.address, reason);
    removeActive(c);
    if (shut)
        g_socket_shutdown(c.socket, TRUE, TRUE, nullptr);
    else if (soup_websocket_connection_get_state(c.conn) == SOUP_WEBSOCKET_STATE_OPEN)
        soup_websocket_connection_close(c.conn, code, reason);
}

static void onError(SoupWebsocketConnection *, GError *error, gpointer data) {
    Client &c = *(Client *)data;
    if (g_error_matches(error, SOUP_WEBSOCKET_ERROR, SOUP_WEBSOCKET_CLOSE_TOO_BIG))
        drop(c, SOUP_WEBSOCKET_CLOSE_TOO_BIG, "message over 256 bytes");
}

static void onPong(SoupWebsocketConnection *, GBytes *, gpointer data) {
    ((Client *)data)->heardAt = g_get_monotonic_time();
}

// A page may send KEYS_PER_S key presses a second and MESSAGES_PER_S
// messages, on average, in bursts of as many; more are dropped, with one line
// in the log for each burst.
static bool spend(Budget &budget, Client &c, int perSecond, const char *what, int64_t now) {
    budget.left = MIN((double)perSecond,
                      budget.left + (double)(now - budget.at) * perSecond / G_USEC_PER_SEC);
    budget.at = now;
    if (budget.left >= 1) {
        budget.left -= 1;
        budget.over = false;
        return true;
    }
    if (!budget.over) web_log_refusal(c.address, what);
    budget.over = true;
    return false;
}

static void onKeyMessage(Client &c, JsonObject *o) {
    if (&c != controller) return; // a viewer's keys send nothing
    bool press = json_object_get_boolean_member_with_default(o, "down", FALSE);
    int64_t now = g_get_monotonic_time();
    if (press && !spend(c.keys, c, KEYS_PER_S, "over 50 keys a second, keys dropped", now)) return;
    const char *key = json_object_get_string_member_with_default(o, "key", "");
    const char *code = json_object_get_string_member_with_default(o, "code", "");
    auto flag = [o](const char *name) {
        return json_object_get_boolean_member_with_default(o, name, FALSE) != FALSE;
    };
    sendKey(c, press, web_vk(key, code), flag("shift"), flag("ctrl"), flag("alt"));
}

static void onControlMessage(Client &c, JsonObject *o) {
    bool take = json_object_get_boolean_member_with_default(o, "take", FALSE);
    if (take && options.control && !controller)
        controller = &c;
    else if (!take && controller == &c)
        passControl(&c);
    else
        return;
    tellState();
}

static void onMessage(SoupWebsocketConnection *, gint type, GBytes *message, gpointer data) {
    Client &c = *(Client *)data;
    int64_t now = g_get_monotonic_time();
    c.heardAt = now;
    if (!c.active) return;
    gsize size = 0;
    const char *text = (const char *)g_bytes_get_data(message, &size);
    if (size > MESSAGE_MAX) return drop(c, SOUP_WEBSOCKET_CLOSE_TOO_BIG, "message over 256 bytes");
    if (type != SOUP_WEBSOCKET_DATA_TEXT)
        return drop(c, SOUP_WEBSOCKET_CLOSE_UNSUPPORTED_DATA, "binary message");
    if (!spend(c.messages, c, MESSAGES_PER_S, "over 100 messages a second, messages dropped", now))
        return;
    JsonParser *parser = json_parser_new();
    JsonNode *root = json_parser_load_from_data(parser, text, (gssize)size, nullptr)
                         ? json_parser_get_root(parser)
                         : nullptr;
    JsonObject *o = root && JSON_NODE_HOLDS_OBJECT(root) ? json_node_get_object(root) : nullptr;
    const char *kind = o ? json_object_get_string_member_with_default(o, "t", "") : "";
    if (std::strcmp(kind, "key") == 0)
        onKeyMessage(c, o);
    else if (std::strcmp(kind, "control") == 0)
        onControlMessage(c, o);
    else
        drop(c, SOUP_WEBSOCKET_CLOSE_POLICY_VIOLATION, "unknown message");
    g_object_unref(parser);
}

// Pages that stopped reading, or that answer nothing, not even pings.
static gboolean watch(gpointer) {
    int64_t now = g_get_monotonic_time();
    for (int i = count - 1; i >= 0; i--) {
        Client &c = *active[i];
        if (c.stalledSince && now - c.stalledSince > STALL_US)
            drop(c, SOUP_WEBSOCKET_CLOSE_GOING_AWAY, "stopped reading", true);
        else if (now - c.heardAt > SILENT_US)
            drop(c, SOUP_WEBSOCKET_CLOSE_GOING_AWAY, "no answer to pings", true);
    }
    return G_SOURCE_CONTINUE;
}

void clients_add(SoupWebsocketConnection *conn, GSocket *socket, const char *address) {
    Client *c = g_new0(Client, 1);
    c->conn = (SoupWebsocketConnection *)g_object_ref(conn);
    c->socket = (GSocket *)g_object_ref(socket);
    g_strlcpy(c->address, address ? address : "?", sizeof c->address);
    g_signal_connect(conn, "closed", G_CALLBACK(onClosed), c);
    if (count >= options.maxClients) {
        web_log_refusal(c->address, "too many clients");
        soup_websocket_connection_close(conn, CLOSE_TRY_AGAIN_LATER, nullptr);
        return;
    }
    int64_t now = g_get_monotonic_time();
    c->active = true;
    c->heardAt = now;
    c->keys = {(double)KEYS_PER_S, now, false};
    c->messages = {(double)MESSAGES_PER_S, now, false};
    c->bands = (1u << WEB_BANDS) - 1;
    c->rows = (1u << LCD_ROWS) - 1;
    c->saidSeen = screen_said_count();
    c->historyNext = web_history_first();
    // Only what the limit below takes, and no deflate, which would lift it.
    soup_websocket_connection_set_max_incoming_payload_size(conn, MESSAGE_MAX);
    soup_websocket_connection_set_keepalive_interval(conn, PING_S);
    g_signal_connect(conn, "message", G_CALLBACK(onMessage), c);
    g_signal_connect(conn, "error", G_CALLBACK(onError), c);
    g_signal_connect(conn, "pong", G_CALLBACK(onPong), c);
    active[count++] = c;
    if (options.control && !controller) controller = c;
    screen_refresh();
    sendText(*c, message_hello());
    tellState();
    if (tickSource) g_source_remove(tickSource);
    tick(nullptr);
}

void clients_start(const WebOptions &o) {
    options = o;
    screen_start(onScreen);
    g_timeout_add(WATCH_MS, watch, nullptr);
}
