// The HTTP and WebSocket server on the program's main loop (libsoup): the
// page at "/" and the WebSocket at "/ws", both only with the token in the
// query, only by GET or HEAD and without a body, all judged at the headers;
// the WebSocket handshake also only from the page's own origin and while
// there is room for another client.
#pragma once
#include "web/web_options.h"

// Listens as `options` say and prints the page's address with `token` on
// standard output. Returns false, with the reason on standard error, when it
// cannot.
bool web_server_start(const WebOptions &options, const char *token);
