// The panel served to browsers: the options that ask for it, and starting it
// on the program's main loop, beside the window or with no display at all.
#pragma once
#include <glib.h>

// --serve, --headless, --serve-control, --max-clients, --tls-cert, --tls-key,
// --serve-insecure.
GOptionGroup *web_option_group();

// After the options are parsed: a message for a bad value, else null.
const char *web_check_options();

// --headless: the link and the server on a GLib main loop, no window.
bool web_headless();

// Serves the panel when --serve or the settings file's `serve` asks for it,
// and prints its address with the token once. Call after the settings are
// loaded and the interpreter is connected. Returns false, with the reason
// on standard error, when it cannot serve. With `logging` (a transcript is
// written) --headless needs no panel.
bool web_start(bool logging);
