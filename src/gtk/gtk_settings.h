// The settings of the native program: a GLib key file,
// $XDG_CONFIG_HOME/q72display/settings.ini, holding the port path, the colour
// scheme, the scale and the transcript file. Scheme and scale live in q72cfg, as for the core's
// painter; the port, a device path here, lives in gPortPath.
#pragma once
#include <glib.h>

#include <cstdint>

enum { PORT_PATH_MAX = 4096 };

extern char gPortPath[PORT_PATH_MAX]; // empty: no port chosen
// transcript= in the file, which --transcript outranks; empty: none. Read,
// never written: "Done" leaves the key as it stands.
extern char gTranscriptPath[PORT_PATH_MAX];

// The settings file's path (allocated once, kept for the run).
const char *settings_path();

// Loads the settings, or the defaults (no port, black on green, 1X). A missing
// file is not an error; a bad or unreadable one gets a one-line warning on
// standard error naming it, and is left as it is until the next save.
void settings_load();

// Writes the settings atomically (a whole new file or none), creating the
// folder if needed. False with `error` set when it could not.
bool settings_save(GError **error);

// Scheme names, as on the command line and in the file.
const char *scheme_name(int32_t blkOnGrn);
// 1 for "green", 0 for "blue", -1 for anything else.
int scheme_from_name(const char *name);
