// The page's Content-Security-Policy: its one script allowed by the hash of
// its text, so that no script but its own runs in it.
#pragma once
#include <glib.h>

// The policy for `page` (the page's HTML, which never changes while the
// program runs), made at the first call and kept.
const char *web_page_policy(GBytes *page);
