// The pages connected over WebSocket: what each has been sent, who holds
// control, and the limits that drop a client. Main loop only.
//
// To a page: a text message {"t":"hello"} first (title, the program's scale
// and scheme, the schemes' colours), {"t":"state"} whenever the link, the
// number of viewers or the control changes, and as the screen changes, at
// most 60 times a second, one binary message: a byte with bit b set for each
// band b (8 pixel rows, top first) that follows, 128 bytes each, then, when
// rows changed or something was said, the UTF-8 JSON of {"t":"text"}
// (changed rows, what to announce). From a page: {"t":"claim"} first (its
// id, whether it asks for control), then {"t":"key"} (down, key, code,
// shift, ctrl, alt) and {"t":"control"} (take); see web_parse.h.
// The history of the scrolling area goes as {"t":"history"} (web_history.h).
#pragma once
#include "web/web_log.h"
#include "web/web_options.h"

#include <libsoup/soup.h>

// Starts following the screen and the link for pages to come.
void clients_start(const WebOptions &options);

// Pages connected now.
int clients_count();

// Answers a WebSocket handshake whose token and Origin were checked, and
// takes the connection once it is made.
void clients_upgrade(SoupServerMessage *msg);

// Takes a connection whose handshake has just been made; `address` is the
// peer's, for the log.
void clients_add(SoupWebsocketConnection *conn, GSocket *socket, const char *address);
