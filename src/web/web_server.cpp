#include "web/web_server.h"
#include "web/web_clients.h"
#include "web/web_listen.h"
#include "web/web_policy.h"
#include "web/web_tls.h"
#include "web/web_token.h"

#include <libsoup/soup.h>

#include <cstdio>
#include <cstring>

static const char PAGE_PATH[] = "/q72display/web/panel.html";

static SoupServer *server;
static char token[WEB_TOKEN_MAX];
static bool tls;
static int maxClients;

// Compares in a time that does not tell how much of the token was right.
static bool hasToken(GHashTable *query, const char **reason) {
    const char *given = query ? (const char *)g_hash_table_lookup(query, "token") : nullptr;
    if (!given) {
        *reason = "no token";
        return false;
    }
    size_t length = std::strlen(token), givenLength = std::strlen(given);
    unsigned difference = length != givenLength;
    for (size_t i = 0; i < length; i++)
        difference |= (unsigned char)token[i] ^ (unsigned char)given[i < givenLength ? i : 0];
    *reason = "wrong token";
    return difference == 0;
}

static void respond(SoupServerMessage *msg, int status, const char *text) {
    soup_server_message_set_status(msg, (guint)status, nullptr);
    soup_server_message_set_response(msg, "text/plain; charset=utf-8", SOUP_MEMORY_STATIC, text,
                                     std::strlen(text));
}

// A refusal ends the connection, so that a WebSocket client gets the status
// at once rather than waiting on a kept-alive connection.
static void refuse(SoupServerMessage *msg, int status, const char *reason, const char *text) {
    web_log_refusal(soup_server_message_get_remote_host(msg), reason);
    SoupMessageHeaders *headers = soup_server_message_get_response_headers(msg);
    soup_message_headers_replace(headers, "Connection", "close");
    if (status == SOUP_STATUS_UNAUTHORIZED)
        soup_message_headers_replace(headers, "WWW-Authenticate", "Token realm=\"Q72display\"");
    respond(msg, status, text);
}

static bool authorised(SoupServerMessage *msg, GHashTable *query) {
    const char *reason;
    if (hasToken(query, &reason)) return true;
    refuse(msg, SOUP_STATUS_UNAUTHORIZED, reason,
           "This address needs the token that q72display printed at start: "
           "http://HOST:PORT/?token=TOKEN\n");
    return false;
}

// The page only talks to its own server, is never framed by another site,
// and hands its address (the token) to no one.
static void addPageHeaders(SoupMessageHeaders *headers, GBytes *page) {
    soup_message_headers_replace(headers, "Content-Security-Policy", web_page_policy(page));
    soup_message_headers_replace(headers, "X-Frame-Options", "DENY");
    soup_message_headers_replace(headers, "Referrer-Policy", "no-referrer");
    soup_message_headers_replace(headers, "X-Content-Type-Options", "nosniff");
    soup_message_headers_replace(headers, "Cache-Control", "no-store");
}

static bool hasBody(SoupMessageHeaders *headers) {
    SoupEncoding encoding = soup_message_headers_get_encoding(headers);
    return encoding != SOUP_ENCODING_NONE &&
           !(encoding == SOUP_ENCODING_CONTENT_LENGTH &&
             soup_message_headers_get_content_length(headers) == 0);
}

// Runs once the headers are in, before a byte of a body is read: the panel
// takes no body, no method but GET and HEAD, and nothing without the token.
static void onHeaders(SoupServer *, SoupServerMessage *msg, const char *, GHashTable *query,
                      gpointer) {
    if (hasBody(soup_server_message_get_request_headers(msg))) {
        web_log_refusal(soup_server_message_get_remote_host(msg), "request with a body");
        listen_answer_and_close(msg, "HTTP/1.1 413 Content Too Large\r\nConnection: close\r\n"
                                     "Content-Length: 0\r\n\r\n");
        soup_server_message_set_status(msg, SOUP_STATUS_REQUEST_ENTITY_TOO_LARGE, nullptr);
        return;
    }
    const char *method = soup_server_message_get_method(msg);
    if (method != SOUP_METHOD_GET && method != SOUP_METHOD_HEAD) {
        soup_message_headers_replace(soup_server_message_get_response_headers(msg), "Allow",
                                     "GET, HEAD");
        // The method is the client's to choose: printed escaped and cut short.
        char *shown = g_strescape(method, "");
        char *reason = g_strdup_printf("method %.16s", shown);
        refuse(msg, SOUP_STATUS_METHOD_NOT_ALLOWED, reason, "Only GET\n");
        g_free(reason);
        g_free(shown);
        return;
    }
    if (authorised(msg, query)) listen_trust(msg);
}

static void onPage(SoupServer *, SoupServerMessage *msg, const char *path, GHashTable *, gpointer) {
    if (std::strcmp(path, "/") != 0) return respond(msg, SOUP_STATUS_NOT_FOUND, "Not found\n");
    GBytes *page = g_resources_lookup_data(PAGE_PATH, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    addPageHeaders(soup_server_message_get_response_headers(msg), page);
    soup_server_message_set_status(msg, SOUP_STATUS_OK, nullptr);
    gsize size = 0;
    const void *data = g_bytes_get_data(page, &size);
    soup_server_message_set_response(msg, "text/html; charset=utf-8", SOUP_MEMORY_COPY,
                                     (const char *)data, size);
    g_bytes_unref(page);
}

// The page's own origin: its scheme (https behind a proxy that says so), and
// the host and port it was loaded from, whichever name of the host that was.
// A page of another site cannot set these headers on a WebSocket handshake.
static bool sameOrigin(SoupServerMessage *msg, const char **origin) {
    SoupMessageHeaders *headers = soup_server_message_get_request_headers(msg);
    *origin = soup_message_headers_get_one(headers, "Origin");
    const char *host = soup_message_headers_get_one(headers, "Host");
    const char *proto = soup_message_headers_get_one(headers, "X-Forwarded-Proto");
    const char *scheme = proto && std::strcmp(proto, "https") == 0 ? "https"
                         : tls                                     ? "https"
                                                                   : "http";
    if (!*origin || !host) return false;
    char *expected = g_strdup_printf("%s://%s", scheme, host);
    bool same = g_ascii_strcasecmp(*origin, expected) == 0;
    g_free(expected);
    return same;
}

// Runs before the WebSocket handshake: a status set here refuses it.
static void onHandshake(SoupServer *, SoupServerMessage *msg, const char *, GHashTable *,
                        gpointer) {
    const char *origin;
    if (!sameOrigin(msg, &origin)) {
        // The Origin is the client's to choose: printed escaped and cut short.
        char *shown = origin ? g_strescape(origin, "") : nullptr;
        char *reason =
            shown ? g_strdup_printf("foreign origin %.80s", shown) : g_strdup("no Origin");
        refuse(msg, SOUP_STATUS_FORBIDDEN, reason, "Forbidden: not the panel's own page\n");
        g_free(reason);
        g_free(shown);
        return;
    }
    if (clients_count() >= maxClients)
        refuse(msg, SOUP_STATUS_SERVICE_UNAVAILABLE, "too many clients",
               "Too many pages are open on the panel\n");
    else
        clients_upgrade(msg);
}

// The address to give: a name this machine answers to when it listens on
// all of its addresses.
static void printAddress(const WebOptions &options) {
    const char *addr = options.addr;
    bool any = std::strcmp(addr, "0.0.0.0") == 0 || std::strcmp(addr, "::") == 0;
    const char *host = any ? g_get_host_name() : addr;
    bool v6 = !any && std::strchr(host, ':');
    std::printf("q72display: the panel is at %s://%s%s%s:%d/?token=%s\n", tls ? "https" : "http",
                v6 ? "[" : "", host, v6 ? "]" : "", listen_port(), token);
    std::fflush(stdout);
}

bool web_server_start(const WebOptions &options, const char *theToken) {
    g_strlcpy(token, theToken, sizeof token);
    maxClients = options.maxClients;
    GError *error = nullptr;
    GTlsCertificate *certificate = nullptr;
    if (options.tlsCert) {
        certificate = web_tls_load(options.tlsCert, options.tlsKey);
        if (!certificate) return false;
        tls = true;
    }
    server = soup_server_new("server-header", "q72display", nullptr);
    // libsoup runs only the early handler of the request's own path.
    soup_server_add_early_handler(server, nullptr, onHeaders, nullptr, nullptr);
    soup_server_add_early_handler(server, "/ws", onHeaders, nullptr, nullptr);
    soup_server_add_handler(server, nullptr, onPage, nullptr, nullptr);
    soup_server_add_handler(server, "/ws", onHandshake, nullptr, nullptr);
    if (!listen_start(server, options.addr, options.port, certificate, &error)) {
        std::fprintf(stderr, "q72display: cannot serve on %s port %d: %s\n", options.addr,
                     options.port, error->message);
        g_error_free(error);
        return false;
    }
    clients_start(options);
    printAddress(options);
    return true;
}
