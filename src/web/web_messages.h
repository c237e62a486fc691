// The text messages to a page, as JSON (see web_clients.h). Each returns a
// new string for g_free.
#pragma once
#include <cstdint>

// {"t":"hello"}: the title, the program's scale and scheme, and the
// colours of both schemes, [[R,G,B] of a set pixel, [R,G,B] of a clear one].
char *message_hello();

// {"t":"state"}: the link's state, the pages connected, and who holds control
// as this page sees it ("you", "other", "free" or "off").
char *message_state(const char *link, int viewers, const char *control);

// {"t":"text"}: the rows in `rows` (bit r for row r + 1) as [r, text], and
// what was said since announcement `saidSeen`, which it moves on.
char *message_text(unsigned rows, uint64_t &saidSeen);
