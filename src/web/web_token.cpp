#include "web/web_token.h"
#include "gtk/gtk_settings.h"

#include <glib/gstdio.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/random.h>

static const char GROUP[] = "q72display";

enum { TOKEN_BYTES = 16, TOKEN_MIN = 2 * TOKEN_BYTES };

const char *web_settings_path() {
    return settings_path();
}

// Loads the settings file into `file`; false with a warning when it exists
// but cannot be read as a key file.
static bool load(GKeyFile *file, bool *exists) {
    GError *error = nullptr;
    *exists = g_key_file_load_from_file(file, settings_path(), G_KEY_FILE_KEEP_COMMENTS, &error);
    if (*exists || g_error_matches(error, G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
        g_clear_error(&error);
        return true;
    }
    std::fprintf(stderr, "q72display: cannot read %s: %s\n", settings_path(), error->message);
    g_error_free(error);
    return false;
}

bool web_settings_serve(char *out, size_t size) {
    GKeyFile *file = g_key_file_new();
    char *serve = nullptr;
    if (g_key_file_load_from_file(file, settings_path(), G_KEY_FILE_NONE, nullptr))
        serve = g_key_file_get_string(file, GROUP, "serve", nullptr);
    bool found = serve && *serve && g_strlcpy(out, serve, size) < size;
    g_free(serve);
    g_key_file_free(file);
    return found;
}

// As many hex digits as the made token has, or more: a token set by hand
// is as hard to guess, if it is random.
static bool valid(const char *token) {
    size_t length = std::strlen(token);
    if (length < TOKEN_MIN || length >= WEB_TOKEN_MAX) return false;
    for (const char *c = token; *c; c++)
        if (!g_ascii_isxdigit(*c)) return false;
    return true;
}

static void makeToken(char (&token)[WEB_TOKEN_MAX]) {
    unsigned char random[TOKEN_BYTES];
    size_t got = 0;
    while (got < sizeof random) {
        ssize_t n = getrandom(random + got, sizeof random - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            std::fprintf(stderr, "q72display: no random source for the token: %s\n",
                         std::strerror(errno));
            std::exit(1);
        }
        got += (size_t)n;
    }
    for (size_t i = 0; i < sizeof random; i++)
        std::snprintf(token + 2 * i, 3, "%02x", random[i]);
}

static bool store(GKeyFile *file, GError **error) {
    gsize length = 0;
    char *data = g_key_file_to_data(file, &length, nullptr);
    char *folder = g_path_get_dirname(settings_path());
    bool stored = g_mkdir_with_parents(folder, 0700) == 0;
    if (!stored)
        g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(errno), "cannot create %s: %s",
                    folder, g_strerror(errno));
    stored = stored && g_file_set_contents_full(settings_path(), data, (gssize)length,
                                                G_FILE_SET_CONTENTS_CONSISTENT, 0600, error);
    g_free(folder);
    g_free(data);
    return stored;
}

void web_token(char (&token)[WEB_TOKEN_MAX]) {
    GKeyFile *file = g_key_file_new();
    bool exists = false;
    bool readable = load(file, &exists);
    char *kept = exists ? g_key_file_get_string(file, GROUP, "token", nullptr) : nullptr;
    if (kept && valid(kept)) {
        g_strlcpy(token, kept, sizeof token);
        // Whoever can read the file can key the transmitter.
        g_chmod(settings_path(), 0600);
    } else {
        if (kept)
            std::fprintf(stderr,
                         "q72display: token= in %s is not 32 to 64 hex digits: a new one is "
                         "made\n",
                         settings_path());
        makeToken(token);
        g_key_file_set_string(file, GROUP, "token", token);
        GError *error = nullptr;
        if (readable && !store(file, &error)) {
            std::fprintf(stderr, "q72display: cannot keep the token in %s: %s\n", settings_path(),
                         error->message);
            g_error_free(error);
            readable = false;
        }
        if (!readable) std::fprintf(stderr, "q72display: the token serves this run only\n");
    }
    g_free(kept);
    g_key_file_free(file);
}
