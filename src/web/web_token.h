// The token that a browser must show, and the address to serve at, kept in
// the settings file beside the window's settings.
#pragma once
#include <cstddef>

enum { WEB_TOKEN_MAX = 65 }; // 32 to 64 hex digits, and the zero

// The settings file's `serve` value; false when it has none.
bool web_settings_serve(char *out, size_t size);

// The settings file's path, for messages.
const char *web_settings_path();

// The token kept in the settings file. At first start a new one is made from
// the system's random source and written there, the file with mode 0600; a
// settings file that cannot be read or written gets a warning, and the new
// token serves this run only.
void web_token(char (&token)[WEB_TOKEN_MAX]);
