// The history of the scrolling area as pages are sent it: each page follows
// the core's line numbers at its own pace, from the oldest line kept when it
// connects, in messages of a bounded size. Main loop only.
//
// To a page: {"t":"history","keep":N,"lines":["TIME\tTEXT", ...]}, the lines
// oldest first as a transcript writes them, N the most a page need keep.
#pragma once
#include <libsoup/soup.h>

#include <cstdint>

// The first line a page that connects now is sent.
uint64_t web_history_first();

// Whether lines from `next` on are waiting to be sent.
bool web_history_waiting(uint64_t next);

// Sends up to one message of lines from `next` on, and moves `next` past
// them; a page that fell so far behind that its lines were dropped goes on
// from the oldest kept.
void web_history_send(SoupWebsocketConnection *conn, uint64_t &next);
