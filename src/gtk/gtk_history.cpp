#include "gtk/gtk_history.h"
#include "app/history.h"
#include "gtk/gtk_host.h"
#include "gtk/gtk_message.h"
#include "gtk/gtk_transcript.h"

#include <cstring>

enum {
    WIDTH = 520,
    HEIGHT = 360,
    BATCH = 256, // lines copied under the lock at a time
    COMMENT_MAX = 4200,
};

static const char TITLE[] = "Q72display History";

static GtkWidget *window; // null while closed
static GtkWidget *view, *searchBar, *searchEntry;
static GtkTextBuffer *buffer;
// Where the history ends and the rows on screen begin; the history grows in
// front of it, the rows after it are replaced when their text changes.
static GtkTextMark *screenStart;
static GtkAdjustment *scroll; // the view's vertical one
static uint64_t nextLine;     // the first history line not shown yet
// The rows' text as shown, each with its LF, and the zero.
static char shownRows[HISTORY_ROWS * HISTORY_TEXT_MAX + 1];

// Moves the lines that entered since the last frame into the text.
static void addNewLines(GString *text) {
    static HistoryLine lines[BATCH];
    for (;;) {
        map_lock();
        int count = history_take(nextLine, lines, BATCH);
        map_unlock();
        char entry[HISTORY_ENTRY_MAX];
        for (int k = 0; k < count; k++)
            g_string_append_len(text, entry, history_entry(lines[k], "\n", entry, sizeof entry));
        if (count < BATCH) return;
    }
}

// The buffer keeps no more lines than the history does, plus the rows.
static void dropOldLines() {
    int extra = gtk_text_buffer_get_line_count(buffer) - (HISTORY_KEEP + HISTORY_ROWS + 1);
    if (extra <= 0) return;
    GtkTextIter start, end;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_get_iter_at_line(buffer, &end, extra);
    gtk_text_buffer_delete(buffer, &start, &end);
}

static bool following = true; // the view was at the end when last scrolled

static bool snapping; // the view is being moved to the end
static bool snapQueued;

// At once, not animated: a scroll under way would read as the user's. Not
// while the view sets its own sizes either, which would undo it: after them,
// when the main loop is idle.
static gboolean snapToEnd(gpointer) {
    snapQueued = false;
    if (!window || !following) return G_SOURCE_REMOVE;
    snapping = true;
    gtk_adjustment_set_value(scroll, gtk_adjustment_get_upper(scroll) -
                                         gtk_adjustment_get_page_size(scroll));
    snapping = false;
    return G_SOURCE_REMOVE;
}

static void showEnd() {
    if (!snapQueued) g_idle_add(snapToEnd, nullptr);
    snapQueued = true;
}

// Scrolled by the user or to the end: at the end, or near enough that the
// last line shows, means follow.
static void onScrolled(GtkAdjustment *adjust, gpointer) {
    if (snapping) return;
    following = gtk_adjustment_get_value(adjust) + gtk_adjustment_get_page_size(adjust) >=
                gtk_adjustment_get_upper(adjust) - 4;
}

// More text, or a taller or shorter window, or lines laid out as the view
// moves: a view that follows is moved to the end again.
static void onResized(GtkAdjustment *, gpointer) {
    if (following) showEnd();
}

// New lines go in front of the rows on screen; the rows are written again
// only when their text changed, stamped as history_on_screen stamps them.
// A reader scrolled up is left where they are; one at the end stays there.
static void update() {
    GString *lines = g_string_new(nullptr);
    addNewLines(lines);
    HistoryLine rows[HISTORY_ROWS];
    map_lock();
    int count = history_on_screen(rows);
    map_unlock();
    char rowText[sizeof shownRows] = "";
    for (int k = 0; k < count; k++) {
        std::strcat(rowText, rows[k].text);
        std::strcat(rowText, "\n");
    }
    GtkTextIter at;
    if (lines->len) {
        gtk_text_buffer_get_iter_at_mark(buffer, &at, screenStart);
        gtk_text_buffer_insert(buffer, &at, lines->str, (gint)lines->len);
        dropOldLines();
    }
    g_string_free(lines, TRUE);
    if (std::strcmp(rowText, shownRows) != 0) {
        std::strcpy(shownRows, rowText);
        GString *screen = g_string_new(nullptr);
        char entry[HISTORY_ENTRY_MAX];
        for (int k = 0; k < count; k++)
            g_string_append_len(screen, entry, history_entry(rows[k], "\n", entry, sizeof entry));
        GtkTextIter end;
        gtk_text_buffer_get_iter_at_mark(buffer, &at, screenStart);
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_delete(buffer, &at, &end);
        int offset = gtk_text_iter_get_offset(&at);
        gtk_text_buffer_insert(buffer, &at, screen->str, (gint)screen->len);
        gtk_text_buffer_get_iter_at_offset(buffer, &at, offset);
        gtk_text_buffer_move_mark(buffer, screenStart, &at); // the rows follow the mark
        g_string_free(screen, TRUE);
    }
    if (following) showEnd();
}

static void onFrame() {
    if (window) update();
}

// Selects the next match of the search text after the selection, wrapping at
// the end (or the one before it, wrapping at the start), and shows it.
static void find(bool forward) {
    const char *wanted = gtk_entry_get_text(GTK_ENTRY(searchEntry));
    if (!*wanted) return;
    GtkTextIter start, end, matchStart, matchEnd;
    gtk_text_buffer_get_selection_bounds(buffer, &start, &end);
    auto flags = (GtkTextSearchFlags)(GTK_TEXT_SEARCH_CASE_INSENSITIVE | GTK_TEXT_SEARCH_TEXT_ONLY);
    bool found =
        forward
            ? gtk_text_iter_forward_search(&end, wanted, flags, &matchStart, &matchEnd, nullptr)
            : gtk_text_iter_backward_search(&start, wanted, flags, &matchStart, &matchEnd, nullptr);
    if (!found) {
        GtkTextIter wrap;
        if (forward)
            gtk_text_buffer_get_start_iter(buffer, &wrap);
        else
            gtk_text_buffer_get_end_iter(buffer, &wrap);
        found = forward ? gtk_text_iter_forward_search(&wrap, wanted, flags, &matchStart, &matchEnd,
                                                       nullptr)
                        : gtk_text_iter_backward_search(&wrap, wanted, flags, &matchStart,
                                                        &matchEnd, nullptr);
    }
    if (!found) return;
    gtk_text_buffer_select_range(buffer, &matchStart, &matchEnd);
    gtk_text_view_scroll_to_iter(GTK_TEXT_VIEW(view), &matchStart, 0.1, FALSE, 0, 0);
}

// Typing a new text searches from the start again.
static void onSearchChanged(GtkSearchEntry *, gpointer) {
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_place_cursor(buffer, &start);
    find(true);
}

static void onNextMatch(GtkSearchEntry *, gpointer) {
    find(true);
}

static void onPreviousMatch(GtkSearchEntry *, gpointer) {
    find(false);
}

// Escape closes the search bar; the text has the keys again.
static void onStopSearch(GtkSearchEntry *, gpointer) {
    gtk_widget_grab_focus(view);
}

static gboolean onKey(GtkWidget *, GdkEventKey *event, gpointer) {
    bool ctrl = (event->state & gtk_accelerator_get_default_mod_mask()) == GDK_CONTROL_MASK;
    if (ctrl && (event->keyval == GDK_KEY_f || event->keyval == GDK_KEY_F)) {
        gtk_search_bar_set_search_mode(GTK_SEARCH_BAR(searchBar), TRUE);
        gtk_widget_grab_focus(searchEntry);
        return TRUE;
    }
    return gtk_search_bar_handle_event(GTK_SEARCH_BAR(searchBar), (GdkEvent *)event);
}

// The kept history and the rows now on screen, in the transcript's format
// under the run's comment line; the file is replaced whole or not at all.
static bool save(const char *path, GError **error) {
    char comment[COMMENT_MAX];
    transcript_comment(comment, sizeof comment);
    GString *text = g_string_new(comment);
    map_lock();
    uint64_t end = history_end();
    HistoryLine line;
    char entry[HISTORY_ENTRY_MAX];
    for (uint64_t k = history_first(); k < end && history_line(k, line); k++)
        g_string_append_len(text, entry, history_entry(line, "\n", entry, sizeof entry));
    HistoryLine rows[HISTORY_ROWS];
    int count = history_on_screen(rows);
    map_unlock();
    for (int k = 0; k < count; k++)
        g_string_append_len(text, entry, history_entry(rows[k], "\n", entry, sizeof entry));
    bool saved = g_file_set_contents(path, text->str, (gssize)text->len, error);
    g_string_free(text, TRUE);
    return saved;
}

static void onSaveAs(GtkButton *, gpointer) {
    GtkWidget *chooser = gtk_file_chooser_dialog_new(
        "Save History", GTK_WINDOW(window), GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel",
        GTK_RESPONSE_CANCEL, "_Save", GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), TRUE);
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(chooser), "q72display-transcript.txt");
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        char *path = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        GError *error = nullptr;
        if (!save(path, &error)) {
            char *title = g_strdup_printf("Cannot save the history to %s", path);
            error_box_show(GTK_WINDOW(window), title, error->message);
            g_free(title);
            g_error_free(error);
        }
        g_free(path);
    }
    gtk_widget_destroy(chooser);
}

static void onDestroy(GtkWidget *, gpointer) {
    window = nullptr;
}

static GtkWidget *buildSearchBar() {
    searchBar = gtk_search_bar_new();
    searchEntry = gtk_search_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(searchEntry), 30);
    gtk_container_add(GTK_CONTAINER(searchBar), searchEntry);
    gtk_search_bar_connect_entry(GTK_SEARCH_BAR(searchBar), GTK_ENTRY(searchEntry));
    gtk_search_bar_set_show_close_button(GTK_SEARCH_BAR(searchBar), TRUE);
    g_signal_connect(searchEntry, "search-changed", G_CALLBACK(onSearchChanged), nullptr);
    g_signal_connect(searchEntry, "activate", G_CALLBACK(onNextMatch), nullptr);
    g_signal_connect(searchEntry, "next-match", G_CALLBACK(onNextMatch), nullptr);
    g_signal_connect(searchEntry, "previous-match", G_CALLBACK(onPreviousMatch), nullptr);
    g_signal_connect(searchEntry, "stop-search", G_CALLBACK(onStopSearch), nullptr);
    return searchBar;
}

// Read-only text with a caret, so that a keyboard selects as a mouse does
// and a screen reader reads it by line and word.
static GtkWidget *buildView() {
    buffer = gtk_text_buffer_new(nullptr);
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(buffer, &end);
    screenStart = gtk_text_buffer_create_mark(buffer, nullptr, &end, FALSE);
    view = gtk_text_view_new_with_buffer(buffer);
    g_object_unref(buffer);
    gtk_text_view_set_editable(GTK_TEXT_VIEW(view), FALSE);
    gtk_text_view_set_cursor_visible(GTK_TEXT_VIEW(view), TRUE);
    gtk_text_view_set_monospace(GTK_TEXT_VIEW(view), TRUE);
    gtk_text_view_set_left_margin(GTK_TEXT_VIEW(view), 4);
    atk_object_set_name(gtk_widget_get_accessible(view), "History");
    GtkWidget *scroller = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_widget_set_vexpand(scroller, TRUE);
    gtk_container_add(GTK_CONTAINER(scroller), view);
    // The scrolled window's adjustment, which the view has once inside it.
    scroll = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
    g_signal_connect(scroll, "value-changed", G_CALLBACK(onScrolled), nullptr);
    g_signal_connect(scroll, "changed", G_CALLBACK(onResized), nullptr);
    return scroller;
}

void history_window_open() {
    static bool listening;
    if (window) {
        gtk_window_present(GTK_WINDOW(window));
        return;
    }
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), TITLE);
    gtk_window_set_default_size(GTK_WINDOW(window), WIDTH, HEIGHT);
    GtkWidget *box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_container_add(GTK_CONTAINER(box), buildSearchBar());
    gtk_container_add(GTK_CONTAINER(box), buildView());
    GtkWidget *buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    gtk_container_set_border_width(GTK_CONTAINER(buttons), 6);
    GtkWidget *saveAs = gtk_button_new_with_mnemonic("_Save As...");
    gtk_container_add(GTK_CONTAINER(buttons), saveAs);
    gtk_container_add(GTK_CONTAINER(box), buttons);
    gtk_container_add(GTK_CONTAINER(window), box);
    g_signal_connect(saveAs, "clicked", G_CALLBACK(onSaveAs), nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(onDestroy), nullptr);
    nextLine = 0;
    shownRows[0] = 0;
    following = true;
    update();
    if (!listening) on_frame(onFrame);
    listening = true;
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(view);
    gtk_window_present(GTK_WINDOW(window));
}
