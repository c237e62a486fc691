#include "gtk/gtk_settings.h"
#include "app/config.h"

#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

char gPortPath[PORT_PATH_MAX];
char gTranscriptPath[PORT_PATH_MAX];

static const char GROUP[] = "q72display";

const char *settings_path() {
    static char *path =
        g_build_filename(g_get_user_config_dir(), "q72display", "settings.ini", nullptr);
    return path;
}

const char *scheme_name(int32_t blkOnGrn) {
    return blkOnGrn == 1 ? "green" : "blue";
}

int scheme_from_name(const char *name) {
    if (std::strcmp(name, "green") == 0) return 1;
    if (std::strcmp(name, "blue") == 0) return 0;
    return -1;
}

static void setDefaults() {
    config_set_defaults(q72cfg);
    gPortPath[0] = 0;
    gTranscriptPath[0] = 0;
}

// A path key into `out`; false with `error` set when it cannot be read or is
// too long.
static bool readPath(GKeyFile *file, const char *key, char (&out)[PORT_PATH_MAX], GError **error) {
    if (!g_key_file_has_key(file, GROUP, key, nullptr)) return true;
    char *path = g_key_file_get_string(file, GROUP, key, error);
    if (!path) return false;
    bool fits = std::strlen(path) < sizeof out;
    if (fits) std::strcpy(out, path);
    g_free(path);
    if (!fits)
        g_set_error(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE, "%s too long", key);
    return fits;
}

// Reads the keys; a key that is missing keeps its default, a key with a
// value out of range makes the whole file bad.
static bool readKeys(GKeyFile *file, GError **error) {
    if (!g_key_file_has_group(file, GROUP)) {
        g_set_error(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_GROUP_NOT_FOUND, "no group [%s]",
                    GROUP);
        return false;
    }
    if (!readPath(file, "port", gPortPath, error)) return false;
    if (!readPath(file, "transcript", gTranscriptPath, error)) return false;
    if (g_key_file_has_key(file, GROUP, "scheme", nullptr)) {
        char *name = g_key_file_get_string(file, GROUP, "scheme", error);
        if (!name) return false;
        int scheme = scheme_from_name(name);
        g_free(name);
        if (scheme < 0) {
            g_set_error(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE,
                        "scheme is neither green nor blue");
            return false;
        }
        q72cfg.BlkOnGrn = scheme;
    }
    if (g_key_file_has_key(file, GROUP, "scale", nullptr)) {
        GError *notNumber = nullptr;
        int scale = g_key_file_get_integer(file, GROUP, "scale", &notNumber);
        if (notNumber) {
            g_propagate_error(error, notNumber);
            return false;
        }
        if (scale < 1 || scale > 4) {
            g_set_error(error, G_KEY_FILE_ERROR, G_KEY_FILE_ERROR_INVALID_VALUE,
                        "scale is not 1, 2, 3 or 4");
            return false;
        }
        q72cfg.scale = (uint8_t)scale;
    }
    return true;
}

void settings_load() {
    setDefaults();
    GKeyFile *file = g_key_file_new();
    GError *error = nullptr;
    if (g_key_file_load_from_file(file, settings_path(), G_KEY_FILE_NONE, &error) &&
        readKeys(file, &error)) {
        g_key_file_free(file);
        return;
    }
    g_key_file_free(file);
    setDefaults();
    if (!g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT))
        std::fprintf(stderr, "q72display: ignoring the settings file %s: %s\n", settings_path(),
                     error->message);
    g_error_free(error);
}

bool settings_save(GError **error) {
    // Keys this program does not set here (the browser panel's token) stay.
    GKeyFile *file = g_key_file_new();
    g_key_file_load_from_file(file, settings_path(), G_KEY_FILE_KEEP_COMMENTS, nullptr);
    g_key_file_set_string(file, GROUP, "port", gPortPath);
    g_key_file_set_string(file, GROUP, "scheme", scheme_name(q72cfg.BlkOnGrn));
    g_key_file_set_integer(file, GROUP, "scale", q72cfg.scale);
    gsize length = 0;
    char *data = g_key_file_to_data(file, &length, nullptr);
    g_key_file_free(file);
    char *folder = g_path_get_dirname(settings_path());
    bool saved = true;
    if (g_mkdir_with_parents(folder, 0700) != 0) {
        int code = errno;
        g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(code), "cannot create %s: %s",
                    folder, g_strerror(code));
        saved = false;
    }
    // Written to a temporary file beside it, then renamed over it; only its
    // owner may read it, since it can hold the token.
    saved = saved && g_file_set_contents_full(settings_path(), data, (gssize)length,
                                              G_FILE_SET_CONTENTS_CONSISTENT, 0600, error);
    g_free(folder);
    g_free(data);
    return saved;
}
