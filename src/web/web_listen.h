// The server's own accept loop: it binds, takes each connection (wrapped in
// TLS when there is a certificate) and hands it to libsoup. A connection that
// has not yet sent the token counts against a cap and must send a whole
// request within a time limit; accepting goes on after the process runs out
// of descriptors.
#pragma once
#include <libsoup/soup.h>

enum {
    LISTEN_WAITING_MAX = 32, // connections not yet authenticated
    LISTEN_REQUEST_S = 10,   // for each to send its first request
};

// Raises the descriptor limit as far as allowed, binds `addr` ("localhost":
// both loopback addresses) at `port` and starts accepting for `server`.
// False, with `error` set, when it cannot bind.
bool listen_start(SoupServer *server, const char *addr, int port, GTlsCertificate *certificate,
                  GError **error);

// The port bound (the one chosen when 0 was asked for).
int listen_port();

// The connection `msg` came on has given the token: it no longer counts
// against the cap or the time limit.
void listen_trust(SoupServerMessage *msg);

// The TCP socket under `msg` (for its send queue and to shut it), or null.
GSocket *listen_socket(SoupServerMessage *msg);

// Writes `response` (a whole HTTP response) and shuts the connection of
// `msg`, which libsoup then ends: libsoup itself would read the request's
// whole body, into memory, before it answered.
void listen_answer_and_close(SoupServerMessage *msg, const char *response);
