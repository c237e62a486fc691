// q72display for Linux: options, settings, the window, and the link at start;
// with --headless, the link and the browser panel or the transcript without a
// window.
//
//   q72display [--port PATH] [--open] [--scale N] [--scheme green|blue] [--record FILE]
//              [--transcript FILE] [--serve [ADDR:]PORT [--serve-control] ...] [--headless]
//              [--version]
#include "app/config.h"
#include "app/startup_screen.h"
#include "app/version.h"
#include "gtk/gtk_host.h"
#include "gtk/gtk_icon.h"
#include "gtk/gtk_message.h"
#include "gtk/gtk_record.h"
#include "gtk/gtk_serial.h"
#include "gtk/gtk_settings.h"
#include "gtk/gtk_transcript.h"
#include "gtk/gtk_window.h"
#include "web/web_panel.h"

#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

struct Options {
    char *port = nullptr;
    gboolean open = FALSE;
    char *scale = nullptr; // a string, so that every number can be refused
    char *scheme = nullptr;
    char *record = nullptr;
    gboolean version = FALSE;
    char *transcript = nullptr;
};

static Options opt;
static GtkWindow *mainWindow;

static const GOptionEntry entries[] = {
    {"port", 0, 0, G_OPTION_ARG_FILENAME, &opt.port, "The modem's serial device, for this run",
     "PATH"},
    {"open", 0, 0, G_OPTION_ARG_NONE, &opt.open, "Open the link at start", nullptr},
    {"scale", 0, 0, G_OPTION_ARG_STRING, &opt.scale, "Display size 1 to 4, for this run", "N"},
    {"scheme", 0, 0, G_OPTION_ARG_STRING, &opt.scheme,
     "Black on green or white on blue, for this run", "green|blue"},
    {"record", 0, 0, G_OPTION_ARG_FILENAME, &opt.record,
     "Append every byte received from the modem to FILE", "FILE"},
    {"transcript", 0, 0, G_OPTION_ARG_FILENAME, &opt.transcript,
     "Append the lines that scroll off the LCD to FILE, with their UTC times", "FILE"},
    {"version", 0, 0, G_OPTION_ARG_NONE, &opt.version, "Show the version and end", nullptr},
    {},
};

static const char description[] =
    "A right click opens the setup dialog; the Menu key, a middle click or Ctrl+left click\n"
    "opens the window menu (Setup..., Always on Top, Copy Screen, History). Every other\n"
    "key goes to the modem.\n"
    "Settings: $XDG_CONFIG_HOME/q72display/settings.ini, written by \"Done\".";

[[noreturn]] static void usageError(const char *message) {
    std::fprintf(stderr, "q72display: %s (see --help)\n", message);
    std::exit(2);
}

// 1 to 4, or 0 for anything else.
static int scaleFrom(const char *text) {
    return std::strlen(text) == 1 && text[0] >= '1' && text[0] <= '4' ? text[0] - '0' : 0;
}

// Bad options or values: one line, exit status 2, before any window.
static void parseOptions(int *argc, char ***argv) {
    GOptionContext *context = g_option_context_new(nullptr);
    g_option_context_set_summary(context,
                                 Q72_PROGRAM_TITLE ": the front panel of the Q72 CW Modem.");
    g_option_context_set_description(context, description);
    g_option_context_add_main_entries(context, entries, nullptr);
    g_option_context_add_group(context, gtk_get_option_group(FALSE));
    g_option_context_add_group(context, web_option_group());
    GError *error = nullptr;
    if (!g_option_context_parse(context, argc, argv, &error)) usageError(error->message);
    g_option_context_free(context);
    if (opt.version) {
        std::printf("q72display %s\n", Q72_VERSION);
        std::exit(0);
    }
    if (*argc > 1) usageError(g_strdup_printf("unexpected argument '%s'", (*argv)[1]));
    if (opt.scale && !scaleFrom(opt.scale))
        usageError(g_strdup_printf("--scale takes 1, 2, 3 or 4, not '%s'", opt.scale));
    if (opt.scheme && scheme_from_name(opt.scheme) < 0)
        usageError(g_strdup_printf("--scheme takes green or blue, not '%s'", opt.scheme));
    if (opt.port && std::strlen(opt.port) >= sizeof gPortPath) usageError("--port: path too long");
    if (opt.transcript && std::strlen(opt.transcript) >= sizeof gTranscriptPath)
        usageError("--transcript: path too long");
    if (const char *bad = web_check_options()) usageError(bad);
}

// The options outrank the file for this run; "Done" saves what is in force.
static void applyOptions() {
    if (opt.port) g_strlcpy(gPortPath, opt.port, sizeof gPortPath);
    if (opt.scale) q72cfg.scale = (uint8_t)scaleFrom(opt.scale);
    if (opt.scheme) q72cfg.BlkOnGrn = scheme_from_name(opt.scheme);
    if (opt.transcript) g_strlcpy(gTranscriptPath, opt.transcript, sizeof gTranscriptPath);
}

// A file that cannot be opened is named on standard error and, with a
// window, in a message box; the program runs on without recording.
static void startRecording() {
    const char *reason = record_start(opt.record);
    if (!reason) return;
    std::fprintf(stderr, "q72display: cannot record to %s: %s\n", opt.record, reason);
    if (!mainWindow) return;
    char *title = g_strdup_printf("Cannot record to %s", opt.record);
    error_box_show(mainWindow, title, reason);
    g_free(title);
}

// Like the record file: named on standard error and in a message box; the
// window runs on without a transcript. Returns false when it cannot be opened.
static bool startTranscript() {
    const char *reason = transcript_start(gTranscriptPath);
    if (!reason) return true;
    std::fprintf(stderr, "q72display: cannot write the transcript to %s: %s\n", gTranscriptPath,
                 reason);
    if (!mainWindow) return false;
    char *title = g_strdup_printf("Cannot write the transcript to %s", gTranscriptPath);
    error_box_show(mainWindow, title, reason);
    g_free(title);
    return false;
}

// Standard error has the line already.
static void onTranscriptStopped(const char *path, const char *reason) {
    char *title = g_strdup_printf("Transcript to %s stopped", path);
    error_box_show(mainWindow, title, reason);
    g_free(title);
}

// Standard error has the line already.
static void onRecordingStopped(const char *path, const char *reason) {
    char *title = g_strdup_printf("Recording to %s stopped", path);
    error_box_show(mainWindow, title, reason);
    g_free(title);
}

// A link that has closed by itself gave up on no port or a path that is no
// serial device: the box says so, and the caption is no longer "link lost".
static void onLinkChange() {
    window_show_link_state();
    LinkFailure failure = link_last_failure();
    if (!failure.reason) return;
    char *title = g_strdup_printf("Cannot open %s", failure.path[0] ? failure.path : "the link");
    char *text = g_strdup_printf("%s: %s. The link is closed; a right click opens the setup "
                                 "dialog, where the port is chosen.",
                                 link_failure_text(failure.result), failure.reason);
    error_box_show(mainWindow, title, text);
    g_free(text);
    g_free(title);
}

// Ends the program as its close box would, also while a dialog runs a loop of
// its own: each dialog is answered first, so that the main loop can return.
static gboolean onStopSignal(gpointer) {
    GList *windows = gtk_window_list_toplevels();
    g_list_foreach(windows, (GFunc)(void (*)(void))g_object_ref, nullptr);
    for (GList *w = windows; w; w = w->next)
        if (GTK_IS_DIALOG(w->data)) gtk_dialog_response(GTK_DIALOG(w->data), GTK_RESPONSE_NONE);
    g_list_free_full(windows, g_object_unref);
    gtk_main_quit();
    return G_SOURCE_CONTINUE;
}

static GMainLoop *headlessLoop;
static int headlessStatus;

static gboolean onHeadlessStop(gpointer) {
    g_main_loop_quit(headlessLoop);
    return G_SOURCE_CONTINUE;
}

// With nobody to choose another port, a path that is no serial device ends
// the program; the link has said why on standard error.
static void onHeadlessLinkChange() {
    if (!link_last_failure().reason) return;
    headlessStatus = 1;
    g_main_loop_quit(headlessLoop);
}

// No window and no display: the link, always open, and the browser panel or
// the transcript, or both.
static int runHeadless() {
    if (!gPortPath[0]) usageError("--headless needs --port PATH, or port= in the settings file");
    headlessLoop = g_main_loop_new(nullptr, FALSE);
    connect_interpreter();
    draw_startup_screen();
    if (!web_start(gTranscriptPath[0])) return 1;
    if (opt.record) startRecording();
    // A station that only logs has nothing to do without its transcript.
    if (gTranscriptPath[0] && !startTranscript()) return 1;
    link_on_change(onHeadlessLinkChange);
    link_open_retrying(gPortPath);
    g_unix_signal_add(SIGINT, onHeadlessStop, nullptr);
    g_unix_signal_add(SIGTERM, onHeadlessStop, nullptr);
    g_main_loop_run(headlessLoop);
    link_close();
    transcript_end();
    return headlessStatus;
}

int main(int argc, char **argv) {
    // Keep-above and the window's place work under X11 only (XWayland too).
    gdk_set_allowed_backends("x11,*");
    // A record FIFO whose reader has gone fails a write instead of ending us.
    std::signal(SIGPIPE, SIG_IGN);
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
    if (!web_start(false)) return 1;
    mainWindow = window_create();
    link_on_change(onLinkChange);
    record_on_stop(onRecordingStopped);
    transcript_on_stop(onTranscriptStopped);
    gtk_widget_show_all(GTK_WIDGET(mainWindow)); // takes the focus once mapped
    if (opt.record) startRecording();
    if (gTranscriptPath[0]) startTranscript();
    if (opt.open) {
        link_open_retrying(gPortPath);
        window_show_link_state();
    }
    // Ctrl+C and a plain kill end the program as its close box does; what
    // "Copy Screen" put on the clipboard is handed to a clipboard manager then.
    g_unix_signal_add(SIGINT, onStopSignal, nullptr);
    g_unix_signal_add(SIGTERM, onStopSignal, nullptr);
    gtk_main();
    link_close();
    transcript_end();
    return 0;
}
