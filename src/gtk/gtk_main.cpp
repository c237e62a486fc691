// q72display for Linux: options, settings, the window, and the link at start;
// with --headless, the link and the browser panel without a window.
//
//   q72display [--port PATH] [--open] [--scale N] [--scheme green|blue] [--record FILE]
//              [--serve [ADDR:]PORT [--serve-control] ...] [--headless]
#include "app/config.h"
#include "app/startup_screen.h"
#include "gtk/gtk_host.h"
#include "gtk/gtk_icon.h"
#include "gtk/gtk_serial.h"
#include "gtk/gtk_settings.h"
#include "gtk/gtk_window.h"
#include "web/web_panel.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

struct Options {
    char *port = nullptr;
    gboolean open = FALSE;
    int scale = -1; // -1: not given
    char *scheme = nullptr;
    char *record = nullptr;
};

static Options opt;

static const GOptionEntry entries[] = {
    {"port", 0, 0, G_OPTION_ARG_FILENAME, &opt.port, "The modem's serial device, for this run",
     "PATH"},
    {"open", 0, 0, G_OPTION_ARG_NONE, &opt.open, "Open the link at start", nullptr},
    {"scale", 0, 0, G_OPTION_ARG_INT, &opt.scale, "Display size 1 to 4, for this run", "N"},
    {"scheme", 0, 0, G_OPTION_ARG_STRING, &opt.scheme,
     "Black on green or white on blue, for this run", "green|blue"},
    {"record", 0, 0, G_OPTION_ARG_FILENAME, &opt.record,
     "Append every byte received from the modem to FILE", "FILE"},
    {},
};

static const char description[] =
    "A right click opens the setup dialog; a middle click or Ctrl+left click opens the\n"
    "window menu (Setup..., Always on Top, Copy Screen). Every key goes to the modem.\n"
    "Settings: $XDG_CONFIG_HOME/q72display/settings.ini, written by \"Done\".";

[[noreturn]] static void usageError(const char *message) {
    std::fprintf(stderr, "q72display: %s (see --help)\n", message);
    std::exit(2);
}

// Bad options or values: one line, exit status 2, before any window.
static void parseOptions(int *argc, char ***argv) {
    GOptionContext *context = g_option_context_new(nullptr);
    g_option_context_set_summary(context, "The front panel of the Q72 CW Modem.");
    g_option_context_set_description(context, description);
    g_option_context_add_main_entries(context, entries, nullptr);
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    g_option_context_add_group(context, web_option_group());
    GError *error = nullptr;
    if (!g_option_context_parse(context, argc, argv, &error)) usageError(error->message);
    g_option_context_free(context);
    if (*argc > 1) usageError(g_strdup_printf("unexpected argument '%s'", (*argv)[1]));
    if (opt.scale != -1 && (opt.scale < 1 || opt.scale > 4))
        usageError(g_strdup_printf("--scale takes 1, 2, 3 or 4, not %d", opt.scale));
    if (opt.scheme && scheme_from_name(opt.scheme) < 0)
        usageError(g_strdup_printf("--scheme takes green or blue, not '%s'", opt.scheme));
    if (opt.port && std::strlen(opt.port) >= sizeof gPortPath) usageError("--port: path too long");
    if (const char *bad = web_check_options()) usageError(bad);
}

// The options outrank the file for this run; "Done" saves what is in force.
static void applyOptions() {
    if (opt.port) g_strlcpy(gPortPath, opt.port, sizeof gPortPath);
    if (opt.scale != -1) q72cfg.scale = (uint8_t)opt.scale;
    if (opt.scheme) q72cfg.BlkOnGrn = scheme_from_name(opt.scheme);
}

// A file that cannot be opened is named on standard error and, with a
// window, in a message box; the program runs on without recording.
static void startRecording(GtkWindow *window) {
    int fd = open(opt.record, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd >= 0) {
        link_record_to(fd);
        return;
    }
    const char *reason = std::strerror(errno);
    std::fprintf(stderr, "q72display: cannot record to %s: %s\n", opt.record, reason);
    if (!window) return;
    GtkWidget *box =
        gtk_message_dialog_new(window, GTK_DIALOG_DESTROY_WITH_PARENT, GTK_MESSAGE_ERROR,
                               GTK_BUTTONS_OK, "Cannot record to %s", opt.record);
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", reason);
    gtk_window_set_title(GTK_WINDOW(box), "Error");
    g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show(box);
}

// Ends the program from any dialog's loop, as the close box would.
static gboolean onStopSignal(gpointer) {
    link_close();
    std::exit(0);
}

// No window and no display: the link, always open, and the browser panel.
static int runHeadless() {
    if (!gPortPath[0]) usageError("--headless needs --port PATH, or port= in the settings file");
    connect_interpreter();
    draw_startup_screen();
    if (!web_start()) return 1;
    if (opt.record) startRecording(nullptr);
    link_open_retrying(gPortPath);
    g_unix_signal_add(SIGINT, onStopSignal, nullptr);
    g_unix_signal_add(SIGTERM, onStopSignal, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, FALSE));
    return 0;
}

int main(int argc, char **argv) {
    parseOptions(&argc, &argv);
    settings_load();
    applyOptions();
    if (web_headless()) return runHeadless();
    if (!gtk_init_check(&argc, &argv)) {
        std::fprintf(stderr, "q72display: cannot open the display '%s'\n",
                     g_getenv("DISPLAY") ? g_getenv("DISPLAY") : "");
        return 1;
    }
    connect_interpreter();
    icon_set_default();
    if (!web_start()) return 1;
    GtkWindow *window = window_create();
    link_on_change(window_show_link_state);
    gtk_widget_show_all(GTK_WIDGET(window));
    gtk_window_present(window); // takes the focus, even with no window manager
    if (opt.record) startRecording(window);
    if (opt.open) {
        link_open_retrying(gPortPath);
        window_show_link_state();
    }
    // Ctrl+C and a plain kill end the program as its close box does.
    g_unix_signal_add(SIGINT, onStopSignal, nullptr);
    g_unix_signal_add(SIGTERM, onStopSignal, nullptr);
    gtk_main();
    link_close();
    return 0;
}
