#include "web/web_clients.h"
#include "gtk/gtk_serial.h"
#include "link/keymap.h"
#include "web/web_history.h"
#include "web/web_listen.h"
#include "web/web_messages.h"
#include "web/web_parse.h"
#include "web/web_screen.h"
#include "web/web_throttle.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstring>

enum : int64_t {
    FRAME_US = G_USEC_PER_SEC / 60,  // at most 60 updates a second per page
    RETRY_MS = 50,                   // a page behind on reading is looked at again
    BACKLOG_BYTES = 16 * 1024,       // unsent in the kernel: the page is behind
    STALL_US = 10 * G_USEC_PER_SEC,  // behind this long: it has stopped reading
    GROWING_CHECKS = 3,              // or behind and more unsent at each of these
    PING_S = 10,                     // pages answer pings with pongs
    SILENT_US = 30 * G_USEC_PER_SEC, // nothing heard this long: gone
    MESSAGE_MAX = 256,               // bytes in a message from a page
    KEYS_PER_S = 50,                 // key presses and releases a second from a page
    MESSAGES_PER_S = 100,            // and messages of any kind
    READ_TURN = 4096,                // bytes read from one page before the others' turn
    READ_PER_S = 32 * 1024,          // bytes a second: the messages' and their frames'
    GRACE_US = 10 * G_USEC_PER_SEC,  // a controller that went away may come back
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
    int unsent, growing; // bytes unsent at the last check, and checks they grew at
    Budget keys, messages;
    guint timer; // a delayed update
    bool held[HELD_KEYS];
    char claim[WEB_CLAIM_CHARS + 1]; // the page's id ("": it gave none yet)
    bool told;                       // the controller has been sent that it is
    uint64_t historyNext;            // the next history line to send it
};

static WebOptions options;
static Client *active[WEB_CLIENTS_MAX];
static int count;
static guint tickSource;
static int64_t tickedAt;

// Control is given only when asked for: to the first page at start that
// asks (with --serve-control), to a page that takes it while it is free, and
// back to a controller whose connection was lost, when it returns within the
// grace period with its id. Until then nobody else may take it.
static Client *controller;
static bool firstAsk; // the first page to ask at start has not come yet
static struct {
    char claim[WEB_CLAIM_CHARS + 1]; // "": nobody is away
    int64_t until;
} away;

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
    if (controller == &c) return "you";
    return controller || away.claim[0] ? "other" : "free";
}

static void sendState(Client &c) {
    if (controller == &c && isOpen(c)) c.told = true;
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

static void grant(Client &c) {
    controller = &c;
    firstAsk = false;
    away.claim[0] = 0;
}

// The controller gives control up, or its connection is lost: then its id
// holds control for the grace period, and no other page can take it.
static void release(Client &c, bool lost) {
    if (controller != &c) return;
    letGo(c);
    controller = nullptr;
    c.told = false;
    if (!lost || !c.claim[0]) return;
    std::memcpy(away.claim, c.claim, sizeof away.claim);
    away.until = g_get_monotonic_time() + GRACE_US;
}

static void removeActive(Client &c) {
    if (!c.active) return;
    c.active = false;
    int i = 0;
    while (active[i] != &c)
        i++;
    std::memmove(active + i, active + i + 1, (size_t)(count - i - 1) * sizeof active[0]);
    count--;
    release(c, true);
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
    else if (error->domain == web_flood_quark())
        drop(c, SOUP_WEBSOCKET_CLOSE_POLICY_VIOLATION, error->message, true);
}

static void onPong(SoupWebsocketConnection *, GBytes *, gpointer data) {
    ((Client *)data)->heardAt = g_get_monotonic_time();
}

// A page may send KEYS_PER_S keys (presses and releases) a second and
// MESSAGES_PER_S messages, on average, in bursts of as many. More keys are
// dropped; more messages close the page.
static bool spend(Budget &budget, int perSecond, int64_t now) {
    budget.left = MIN((double)perSecond,
                      budget.left + (double)(now - budget.at) * perSecond / G_USEC_PER_SEC);
    budget.at = now;
    bool within = budget.left >= 1;
    if (within) budget.left -= 1;
    return within;
}

static bool isHeld(const Client &c, uint8_t vk) {
    for (int k = 0; k < HELD_KEYS; k++)
        if (vk == heldVk[k] && c.held[k]) return true;
    return false;
}

// Only the controller's keys are sent, and only once it has been told it
// holds control: a key typed before then was meant for no modem. Letting
// a held modifier go is never dropped, so no chord is left held.
static void onKey(Client &c, const PageMessage &m, int64_t now) {
    if (&c != controller || !c.told) return;
    bool endsChord = !m.down && isHeld(c, m.vk);
    if (!spend(c.keys, KEYS_PER_S, now) && !endsChord) {
        if (!c.keys.over) web_log_refusal(c.address, "over 50 keys a second, keys dropped");
        c.keys.over = true;
        return;
    }
    c.keys.over = false;
    sendKey(c, m.down, m.vk, m.shift, m.ctrl, m.alt);
}

static bool awayIsBack(const Client &c) {
    return away.claim[0] && std::strcmp(away.claim, c.claim) == 0;
}

static void onControl(Client &c, bool take) {
    if (take && options.control && !controller && !away.claim[0])
        grant(c);
    else if (!take && controller == &c)
        release(c, false);
    else
        return;
    tellState();
}

// The page's id and whether it asks for control, first on each connection.
static void onClaim(Client &c, const PageMessage &m) {
    std::memcpy(c.claim, m.id, sizeof c.claim);
    if (!options.control || controller) return;
    if (awayIsBack(c) || (firstAsk && m.want && !away.claim[0])) {
        grant(c);
        tellState();
    }
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
    if (!spend(c.messages, MESSAGES_PER_S, now))
        return drop(c, SOUP_WEBSOCKET_CLOSE_POLICY_VIOLATION, "over 100 messages a second");
    PageMessage m;
    bool known = web_parse(text, size, m);
    if (known && m.kind == PageMessage::KEY)
        onKey(c, m, now);
    else if (known && m.kind == PageMessage::CONTROL)
        onControl(c, m.take);
    else if (known && m.kind == PageMessage::CLAIM && !c.claim[0])
        onClaim(c, m);
    else
        drop(c, SOUP_WEBSOCKET_CLOSE_POLICY_VIOLATION, "unknown message");
}

// Whether what is unsent to a page grew since the last check while it is
// behind: something other than updates, which wait while it is, fills its
// queue (pongs to a page that pings and never reads).
static bool queueGrew(Client &c, int64_t now) {
    bool late = behind(c, now);
    int unsent = 0;
    if (ioctl(g_socket_get_fd(c.socket), SIOCOUTQ, &unsent) != 0) unsent = 0;
    bool grew = late && (unsent > c.unsent || !g_socket_condition_check(c.socket, G_IO_OUT));
    c.unsent = unsent;
    c.growing = grew ? c.growing + 1 : 0;
    return c.growing >= GROWING_CHECKS;
}

// Once a second, whatever the screen does: pages that stopped reading, or
// that answer nothing, not even pings; and a controller's grace running out.
static gboolean watch(gpointer) {
    int64_t now = g_get_monotonic_time();
    for (int i = count - 1; i >= 0; i--) {
        Client &c = *active[i];
        if (queueGrew(c, now) || (c.stalledSince && now - c.stalledSince > STALL_US))
            drop(c, SOUP_WEBSOCKET_CLOSE_GOING_AWAY, "stopped reading", true);
        else if (now - c.heardAt > SILENT_US)
            drop(c, SOUP_WEBSOCKET_CLOSE_GOING_AWAY, "no answer to pings", true);
    }
    if (away.claim[0] && now >= away.until) {
        away.claim[0] = 0;
        tellState();
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
    screen_refresh();
    sendText(*c, message_hello());
    tellState();
    if (tickSource) g_source_remove(tickSource);
    tick(nullptr);
}

// Once the 101 is written the connection is the WebSocket's, read through
// the throttle.
static void onUpgraded(SoupServerMessage *msg, gpointer) {
    GSocket *socket = (GSocket *)g_object_ref(listen_socket(msg));
    char *address = g_strdup(soup_server_message_get_remote_host(msg));
    const char *origin =
        soup_message_headers_get_one(soup_server_message_get_request_headers(msg), "Origin");
    GIOStream *stream = soup_server_message_steal_connection(msg);
    GIOStream *throttled = web_throttle(stream, READ_TURN, READ_PER_S);
    SoupWebsocketConnection *conn =
        soup_websocket_connection_new(throttled, soup_server_message_get_uri(msg),
                                      SOUP_WEBSOCKET_CONNECTION_SERVER, origin, nullptr, nullptr);
    clients_add(conn, socket, address);
    g_object_unref(conn);
    g_object_unref(throttled);
    g_object_unref(stream);
    g_free(address);
    g_object_unref(socket);
}

void clients_upgrade(SoupServerMessage *msg) {
    // No extension: deflate would lift the size limit.
    if (soup_websocket_server_process_handshake(msg, nullptr, nullptr, nullptr, nullptr))
        g_signal_connect(msg, "wrote-informational", G_CALLBACK(onUpgraded), nullptr);
}

void clients_start(const WebOptions &o) {
    options = o;
    firstAsk = o.control;
    screen_start(onScreen);
    g_timeout_add(WATCH_MS, watch, nullptr);
}
