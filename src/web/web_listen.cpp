// The program accepts connections itself rather than through libsoup's own
// listener, which stops for good at its first failed accept() and leaks a
// socket for each connection it closes.
#include "web/web_listen.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstring>

struct Connection {
    GIOStream *stream;      // the stream handed over (TCP, or TLS over it), not owned
    GSocketConnection *tcp; // alive as long as this record: the stream handed over holds it
    GSocketAddress *remote; // libsoup gives each of the connection's messages this object
    guint timer;            // while the connection waits
    GList *link;            // in `waiting` until it gives the token or is given up
};

static SoupServer *server;
static GSocketListener *listener;
static GTlsCertificate *certificate;
static GHashTable *connections;       // remote address object -> Connection
static GQueue waiting = G_QUEUE_INIT; // oldest first
static int boundPort;

// Connections closed for the cap, told at the start and at the end of a
// flood rather than one by one.
static struct {
    int closed, closedThen;
    gint64 first, last;
} flood;

static int acceptFailures;

static void stopWaiting(Connection *c) {
    if (c->link) g_queue_delete_link(&waiting, c->link);
    c->link = nullptr;
    if (c->timer) g_source_remove(c->timer);
    c->timer = 0;
}

// Shutting the socket wakes whatever waits on it, and libsoup then ends the
// connection. Closing it as well stops a client that keeps sending: Linux
// goes on queueing what arrives after a shutdown, and libsoup would read
// it. A TLS handshake may be using the socket in glib-networking's thread:
// that connection is only shut, and its handshake fails at its next write.
static void giveUp(Connection *c) {
    stopWaiting(c);
    GSocket *socket = g_socket_connection_get_socket(c->tcp);
    g_socket_shutdown(socket, TRUE, TRUE, nullptr);
    bool handshaking = G_IS_TLS_CONNECTION(c->stream) &&
                       g_tls_connection_get_protocol_version(G_TLS_CONNECTION(c->stream)) ==
                           G_TLS_PROTOCOL_VERSION_UNKNOWN;
    if (!handshaking) g_socket_close(socket, nullptr);
}

static gboolean onTooSlow(gpointer data) {
    Connection *c = (Connection *)data;
    c->timer = 0;
    giveUp(c);
    return G_SOURCE_REMOVE;
}

static void onGone(gpointer data, GObject *) {
    Connection *c = (Connection *)data;
    stopWaiting(c);
    g_hash_table_remove(connections, c->remote);
    g_object_unref(c->remote);
    g_free(c);
}

// The flood is over once a time limit has passed with nothing closed.
static gboolean onFloodCheck(gpointer) {
    if (flood.closed > flood.closedThen) {
        flood.closedThen = flood.closed;
        return G_SOURCE_CONTINUE;
    }
    std::fprintf(stderr,
                 "q72display: refused %d connections in %.1f s: more than %d waited for a "
                 "first request\n",
                 flood.closed, (double)(flood.last - flood.first) / G_USEC_PER_SEC,
                 LISTEN_WAITING_MAX);
    flood = {};
    return G_SOURCE_REMOVE;
}

// A new connection rather than the oldest waiting one: a client that sends
// its request at once still gets in while idle connections pour in.
static void closeOldest() {
    giveUp((Connection *)g_queue_peek_head(&waiting));
    flood.last = g_get_monotonic_time();
    if (flood.closed++) return;
    std::fprintf(stderr,
                 "q72display: refused connections: more than %d wait for a first "
                 "request, the oldest is closed for each new one\n",
                 LISTEN_WAITING_MAX);
    flood.first = flood.last;
    g_timeout_add_seconds(LISTEN_REQUEST_S, onFloodCheck, nullptr);
}

static void take(GSocketConnection *tcp) {
    if (waiting.length >= LISTEN_WAITING_MAX) closeOldest();
    GError *error = nullptr;
    GSocketAddress *local = g_socket_connection_get_local_address(tcp, nullptr);
    GSocketAddress *remote = g_socket_connection_get_remote_address(tcp, nullptr);
    GIOStream *stream = G_IO_STREAM(g_object_ref(tcp));
    if (certificate && local && remote) {
        g_object_unref(stream);
        stream = g_tls_server_connection_new(G_IO_STREAM(tcp), certificate, &error);
    }
    if (!local || !remote || !stream) {
        if (error)
            std::fprintf(stderr, "q72display: cannot serve a connection: %s\n", error->message);
        g_clear_error(&error);
        g_clear_object(&local);
        g_clear_object(&remote);
        g_clear_object(&stream);
        g_io_stream_close(G_IO_STREAM(tcp), nullptr, nullptr);
        return;
    }
    Connection *c = g_new0(Connection, 1);
    c->stream = stream;
    c->tcp = tcp;
    c->remote = remote;
    g_queue_push_tail(&waiting, c);
    c->link = waiting.tail;
    c->timer = g_timeout_add_seconds(LISTEN_REQUEST_S, onTooSlow, c);
    g_hash_table_insert(connections, remote, c);
    g_object_weak_ref(G_OBJECT(stream), onGone, c);
    soup_server_accept_iostream(server, stream, local, remote, nullptr);
    g_object_unref(stream);
    g_object_unref(local);
}

static void acceptNext();

static gboolean onRetry(gpointer) {
    acceptNext();
    return G_SOURCE_REMOVE;
}

// A failed accept() (out of descriptors, mostly) leaves the listening socket
// readable: trying again at once would spin, so it waits a little, and says
// so once, not at every failure.
static void onAccepted(GObject *, GAsyncResult *result, gpointer) {
    GError *error = nullptr;
    GSocketConnection *tcp = g_socket_listener_accept_finish(listener, result, nullptr, &error);
    if (!tcp) {
        if (!acceptFailures++)
            std::fprintf(stderr,
                         "q72display: cannot accept a connection: %s; trying again "
                         "every 0.1 s\n",
                         error->message);
        g_error_free(error);
        g_timeout_add(100, onRetry, nullptr);
        return;
    }
    if (acceptFailures)
        std::fprintf(stderr, "q72display: accepting connections again, after %d failures\n",
                     acceptFailures);
    acceptFailures = 0;
    take(tcp);
    g_object_unref(tcp);
    acceptNext();
}

static void acceptNext() {
    g_socket_listener_accept_async(listener, nullptr, onAccepted, nullptr);
}

static bool bind(const char *addr, int port, GError **error) {
    GInetAddress *inet = g_inet_address_new_from_string(addr);
    GSocketAddress *address = g_inet_socket_address_new(inet, (guint16)port);
    GSocketAddress *bound = nullptr;
    bool ok = g_socket_listener_add_address(listener, address, G_SOCKET_TYPE_STREAM,
                                            G_SOCKET_PROTOCOL_TCP, nullptr, &bound, error);
    if (ok) boundPort = g_inet_socket_address_get_port(G_INET_SOCKET_ADDRESS(bound));
    g_clear_object(&bound);
    g_object_unref(address);
    g_object_unref(inet);
    return ok;
}

// systemd and most shells give a soft limit of 1,024 descriptors and allow
// far more.
static void raiseDescriptorLimit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

bool listen_start(SoupServer *theServer, const char *addr, int port, GTlsCertificate *tls,
                  GError **error) {
    server = theServer;
    certificate = tls;
    raiseDescriptorLimit();
    connections = g_hash_table_new(nullptr, nullptr);
    listener = g_socket_listener_new();
    // Room for a real client's connection while a flood is being accepted.
    g_socket_listener_set_backlog(listener, 128);
    if (std::strcmp(addr, "localhost") != 0) {
        if (!bind(addr, port, error)) return false;
    } else {
        // Both loopback addresses on one port; a machine without IPv6 has 127.0.0.1 alone.
        if (!bind("127.0.0.1", port, error)) return false;
        GError *v6 = nullptr;
        if (!bind("::1", boundPort, &v6)) {
            if (g_error_matches(v6, G_IO_ERROR, G_IO_ERROR_ADDRESS_IN_USE)) {
                g_propagate_error(error, v6);
                return false;
            }
            g_error_free(v6);
        }
    }
    acceptNext();
    return true;
}

int listen_port() {
    return boundPort;
}

static Connection *connectionOf(SoupServerMessage *msg) {
    return (Connection *)g_hash_table_lookup(connections,
                                             soup_server_message_get_remote_address(msg));
}

void listen_trust(SoupServerMessage *msg) {
    if (Connection *c = connectionOf(msg)) stopWaiting(c);
}

GSocket *listen_socket(SoupServerMessage *msg) {
    Connection *c = connectionOf(msg);
    return c ? g_socket_connection_get_socket(c->tcp) : nullptr;
}

void listen_answer_and_close(SoupServerMessage *msg, const char *response) {
    Connection *c = connectionOf(msg);
    if (!c) return;
    // A few hundred bytes fit an empty send buffer; the read side may be
    // busy with libsoup, so nothing here waits.
    GOutputStream *out = g_io_stream_get_output_stream(c->stream);
    g_pollable_output_stream_write_nonblocking(G_POLLABLE_OUTPUT_STREAM(out), response,
                                               std::strlen(response), nullptr, nullptr);
    giveUp(c);
}
