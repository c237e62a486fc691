// The server's options, checked before anything starts, and the start.
#include "web/web_options.h"
#include "web/web_panel.h"
#include "web/web_server.h"
#include "web/web_tls.h"
#include "web/web_token.h"

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

static char *serve;
static gboolean headless, control, insecure;
static int maxClients = -1; // -1: not given
static char *tlsCert, *tlsKey;

static const GOptionEntry entries[] = {
    {"serve", 0, 0, G_OPTION_ARG_STRING, &serve,
     "Serve the panel to browsers on PORT, at 127.0.0.1 unless ADDR is given", "[ADDR:]PORT"},
    {"headless", 0, 0, G_OPTION_ARG_NONE, &headless,
     "No window and no display: open the link and serve the panel (or only write --transcript)",
     nullptr},
    {"serve-control", 0, 0, G_OPTION_ARG_NONE, &control,
     "Pages may take control and send keys, the first page opened at once (else every page "
     "only views)",
     nullptr},
    {"max-clients", 0, 0, G_OPTION_ARG_INT, &maxClients, "Pages served at once, 8 unless given",
     "N"},
    {"tls-cert", 0, 0, G_OPTION_ARG_FILENAME, &tlsCert,
     "Serve over https and wss with this PEM certificate", "FILE"},
    {"tls-key", 0, 0, G_OPTION_ARG_FILENAME, &tlsKey, "The certificate's PEM private key", "FILE"},
    {"serve-insecure", 0, 0, G_OPTION_ARG_NONE, &insecure,
     "Allow --serve-control over plain http off loopback (insecure: whoever sees the "
     "traffic gets the token)",
     nullptr},
    {},
};

GOptionGroup *web_option_group() {
    GOptionGroup *group = g_option_group_new(
        "web", "The panel in a browser:", "Show the browser panel's options", nullptr, nullptr);
    g_option_group_add_entries(group, entries);
    return group;
}

bool web_parse_serve(const char *text, char (&addr)[WEB_ADDR_MAX], int &port) {
    const char *colon = std::strrchr(text, ':');
    const char *portText = colon ? colon + 1 : text;
    char *end = nullptr;
    long value = std::strtol(portText, &end, 10);
    if (*portText < '0' || *portText > '9' || *end != 0 || value > 65535) return false;
    port = (int)value;
    if (!colon) {
        g_strlcpy(addr, "127.0.0.1", sizeof addr);
        return true;
    }
    size_t length = (size_t)(colon - text);
    // An IPv6 address stands in brackets, as in a URL.
    if (length >= 2 && text[0] == '[' && text[length - 1] == ']') {
        text++;
        length -= 2;
    } else if (std::memchr(text, ':', length)) {
        return false;
    }
    if (length == 0 || length >= sizeof addr) return false;
    std::memcpy(addr, text, length);
    addr[length] = 0;
    if (std::strcmp(addr, "localhost") == 0) return true;
    GInetAddress *inet = g_inet_address_new_from_string(addr);
    if (!inet) return false;
    g_object_unref(inet);
    return true;
}

const char *web_check_options() {
    char addr[WEB_ADDR_MAX];
    int port;
    if (serve && !web_parse_serve(serve, addr, port))
        return g_strdup_printf("--serve takes [ADDR:]PORT, ADDR an IP address (IPv6 in "
                               "brackets) or localhost, PORT 0 to 65535, not '%s'",
                               serve);
    if (maxClients != -1 && (maxClients < 1 || maxClients > WEB_CLIENTS_MAX))
        return g_strdup_printf("--max-clients takes 1 to %d, not %d", WEB_CLIENTS_MAX, maxClients);
    if (!tlsCert != !tlsKey) return "--tls-cert and --tls-key go together";
    // Before GTK or GLib start a thread that could read the environment.
    if (tlsCert) web_tls_restrict();
    return nullptr;
}

bool web_headless() {
    return headless;
}

static bool loopback(const char *addr) {
    if (std::strcmp(addr, "localhost") == 0) return true;
    GInetAddress *inet = g_inet_address_new_from_string(addr);
    bool is = g_inet_address_get_is_loopback(inet);
    g_object_unref(inet);
    return is;
}

bool web_start(bool logging) {
    char saved[WEB_ADDR_MAX + 8] = "";
    char token[WEB_TOKEN_MAX];
    const char *where = serve;
    if (!where && web_settings_serve(saved, sizeof saved)) where = saved;
    if (!where) {
        if ((!headless || logging) && !control && maxClients == -1 && !tlsCert) return true;
        std::fprintf(stderr, "q72display: %s needs --serve [ADDR:]PORT, or serve= in %s\n",
                     headless  ? "--headless (without --transcript)"
                     : control ? "--serve-control"
                     : tlsCert ? "--tls-cert"
                               : "--max-clients",
                     web_settings_path());
        std::exit(2);
    }
    WebOptions options = {};
    if (!web_parse_serve(where, options.addr, options.port)) {
        std::fprintf(stderr, "q72display: serve=%s in %s is not [ADDR:]PORT\n", where,
                     web_settings_path());
        std::exit(2);
    }
    // Whoever sees one page load over plain http has the token, and with
    // control the transmitter.
    if (control && !tlsCert && !insecure && !loopback(options.addr)) {
        std::fprintf(stderr,
                     "q72display: --serve-control over plain http on %s lets anyone on the "
                     "network key the transmitter: give --tls-cert and --tls-key (or "
                     "--serve-insecure to allow it)\n",
                     options.addr);
        std::exit(2);
    }
    options.control = control;
    options.maxClients = maxClients == -1 ? WEB_DEFAULT_CLIENTS : maxClients;
    options.tlsCert = tlsCert;
    options.tlsKey = tlsKey;
    web_token(token);
    return web_server_start(options, token);
}
