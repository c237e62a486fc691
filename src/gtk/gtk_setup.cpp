#include "gtk/gtk_setup.h"
#include "app/config.h"
#include "app/texts.h"
#include "gtk/gtk_message.h"
#include "gtk/gtk_ports.h"
#include "gtk/gtk_serial.h"
#include "gtk/gtk_settings.h"
#include "gtk/gtk_window.h"

#include <cstdio>
#include <cstring>

// The open dialog and the controls read back by "Done"; NULL while closed.
static GtkWidget *dialog;
static GtkWidget *greenButton, *sizeList, *portText, *portButton, *linkButton, *linkStatus;

// The settings as they were when the dialog opened, for "Cancel".
static char curPort[PORT_PATH_MAX];
static int32_t curColor;
static uint8_t curScale;

// The button reads "Open I/F" or "Close I/F"; Alt+I works it either way.
static void showLinkButton(LinkState state) {
    char label[32];
    const char *text = link_button_text(state);
    const char *at = std::strstr(text, "I/F");
    std::snprintf(label, sizeof label, "%.*s_%s", (int)(at - text), text, at);
    gtk_button_set_label(GTK_BUTTON(linkButton), label);
}

// A control's description: what a screen reader says after its name when
// the control takes the focus.
static void describe(GtkWidget *control, const char *text) {
    atk_object_set_description(gtk_widget_get_accessible(control), text);
}

// A link that failed to open, or gave up, shows why: "Com Open Fail: Permission denied".
// The link button describes itself with it, so it is heard when tabbing.
void setup_show_link_state() {
    if (!dialog) return;
    LinkState state = link_state();
    LinkFailure failure = link_last_failure();
    char *text = failure.reason
                     ? g_strdup_printf("%s: %s", link_failure_text(failure.result), failure.reason)
                     : g_strdup(link_state_text(state));
    gtk_label_set_text(GTK_LABEL(linkStatus), text);
    showLinkButton(state);
    describe(linkButton, text);
    g_free(text);
}

static void showPort() {
    char *text = g_strdup_printf("Com Port: %s", gPortPath[0] ? gPortPath : "?");
    gtk_label_set_text(GTK_LABEL(portText), text);
    gtk_widget_set_tooltip_text(portText, gPortPath[0] ? gPortPath : nullptr);
    describe(portButton, text);
    g_free(text);
}

static void onLink(GtkButton *, gpointer) {
    if (link_state() != LINK_CLOSED)
        link_close();
    else
        link_open(gPortPath);
    window_show_link_state();
}

// The port chooser: the devices found, each under the name that opens it, and
// an entry for any other path (a pty, say). "OK" takes what the entry holds.
static void onShowDevice(GtkComboBox *combo, gpointer label) {
    const char *device = gtk_combo_box_get_active_id(combo);
    gtk_label_set_text(GTK_LABEL(label), device ? device : "");
}

static void choosePort(GtkWindow *owner) {
    GtkWidget *chooser = gtk_dialog_new_with_buttons(
        PORT_DIALOG_TITLE, owner,
        (GtkDialogFlags)(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "_Cancel",
        GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_OK);
    GtkWidget *list = gtk_combo_box_text_new_with_entry();
    GtkWidget *device = gtk_label_new("");
    static SerialPort ports[PORT_LIST_MAX];
    int count = list_serial_ports(ports);
    for (int k = 0; k < count; k++) {
        gtk_combo_box_text_append(GTK_COMBO_BOX_TEXT(list), ports[k].device, ports[k].path);
        if (std::strcmp(ports[k].path, gPortPath) == 0)
            gtk_combo_box_set_active(GTK_COMBO_BOX(list), k);
    }
    GtkWidget *entry = gtk_bin_get_child(GTK_BIN(list));
    gtk_entry_set_text(GTK_ENTRY(entry), gPortPath);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), 40);
    g_signal_connect(list, "changed", G_CALLBACK(onShowDevice), device);
    onShowDevice(GTK_COMBO_BOX(list), device);

    GtkWidget *box = gtk_dialog_get_content_area(GTK_DIALOG(chooser));
    gtk_container_set_border_width(GTK_CONTAINER(box), 8);
    gtk_box_set_spacing(GTK_BOX(box), 6);
    gtk_container_add(GTK_CONTAINER(box), list);
    gtk_container_add(GTK_CONTAINER(box), device);
    gtk_widget_show_all(chooser);
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_OK)
        g_strlcpy(gPortPath, gtk_entry_get_text(GTK_ENTRY(entry)), sizeof gPortPath);
    gtk_widget_destroy(chooser);
}

static void onSetPort(GtkButton *, gpointer) {
    choosePort(GTK_WINDOW(dialog));
    showPort();
}

static void onCancel(GtkButton *, gpointer) {
    g_strlcpy(gPortPath, curPort, sizeof gPortPath);
    q72cfg.BlkOnGrn = curColor;
    q72cfg.scale = curScale;
    gtk_widget_destroy(dialog);
}

static void reportSaveFailure(GtkWindow *owner, const GError *error) {
    std::fprintf(stderr, "q72display: Save State Failed. %s\n", error->message);
    GtkWidget *box = error_box_new(owner, "Save State Failed.", error->message);
    gtk_dialog_run(GTK_DIALOG(box));
    gtk_widget_destroy(box);
}

// Every "Done" saves. With no size selected the scale in force stays.
static void onDone(GtkButton *, gpointer) {
    q72cfg.BlkOnGrn = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(greenButton)) ? 1 : 0;
    int selected = gtk_combo_box_get_active(GTK_COMBO_BOX(sizeList));
    if (selected >= 0) q72cfg.scale = (uint8_t)(selected + 1);
    GError *error = nullptr;
    if (!settings_save(&error)) {
        reportSaveFailure(GTK_WINDOW(dialog), error);
        g_error_free(error);
    }
    window_apply_settings();
    gtk_widget_destroy(dialog);
}

static GtkWidget *button(const char *mnemonic, GCallback clicked) {
    GtkWidget *widget = gtk_button_new_with_mnemonic(mnemonic);
    g_signal_connect(widget, "clicked", clicked, nullptr);
    return widget;
}

// Esc is "Cancel", as in any dialog.
static gboolean onDialogKey(GtkWidget *, GdkEventKey *event, gpointer) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    onCancel(nullptr, nullptr);
    return TRUE;
}

static void build(GtkWindow *owner) {
    dialog = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(dialog), SETUP_TITLE);
    gtk_window_set_type_hint(GTK_WINDOW(dialog), GDK_WINDOW_TYPE_HINT_DIALOG);
    atk_object_set_role(gtk_widget_get_accessible(dialog), ATK_ROLE_DIALOG);
    gtk_window_set_transient_for(GTK_WINDOW(dialog), owner);
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_destroy_with_parent(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    g_signal_connect(dialog, "destroy", G_CALLBACK(gtk_widget_destroyed), &dialog);
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(onDialogKey), nullptr);

    greenButton = gtk_radio_button_new_with_mnemonic(nullptr, "_Black on Green");
    GtkWidget *blueButton = gtk_radio_button_new_with_mnemonic_from_widget(
        GTK_RADIO_BUTTON(greenButton), "_White on Blue");
    GtkWidget *schemes = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
    gtk_container_set_border_width(GTK_CONTAINER(schemes), 4);
    gtk_container_add(GTK_CONTAINER(schemes), greenButton);
    gtk_container_add(GTK_CONTAINER(schemes), blueButton);
    GtkWidget *frame = gtk_frame_new("Color Scheme");
    gtk_container_add(GTK_CONTAINER(frame), schemes);

    sizeList = gtk_combo_box_text_new();
    for (const char *name : SIZE_NAMES)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(sizeList), name);
    GtkWidget *sizeLabel = gtk_label_new_with_mnemonic("Display Si_ze");
    gtk_label_set_mnemonic_widget(GTK_LABEL(sizeLabel), sizeList);
    linkStatus = gtk_label_new("");
    gtk_label_set_line_wrap(GTK_LABEL(linkStatus), TRUE);
    gtk_label_set_line_wrap_mode(GTK_LABEL(linkStatus), PANGO_WRAP_WORD_CHAR);
    gtk_label_set_max_width_chars(GTK_LABEL(linkStatus), 28);
    portText = gtk_label_new("");
    gtk_label_set_ellipsize(GTK_LABEL(portText), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_max_width_chars(GTK_LABEL(portText), 28);
    linkButton = button("", G_CALLBACK(onLink));
    portButton = button("_Set Com Port", G_CALLBACK(onSetPort));

    GtkWidget *grid = gtk_grid_new();
    gtk_container_set_border_width(GTK_CONTAINER(grid), 8);
    gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
    gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
    gtk_grid_attach(GTK_GRID(grid), frame, 0, 0, 1, 3);
    gtk_grid_attach(GTK_GRID(grid), sizeLabel, 1, 0, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), sizeList, 1, 1, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), linkStatus, 1, 2, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), portButton, 0, 3, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), portText, 1, 3, 2, 1);
    gtk_grid_attach(GTK_GRID(grid), linkButton, 0, 4, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), button("_Done", G_CALLBACK(onDone)), 1, 4, 1, 1);
    gtk_grid_attach(GTK_GRID(grid), button("_Cancel", G_CALLBACK(onCancel)), 2, 4, 1, 1);
    gtk_container_add(GTK_CONTAINER(dialog), grid);

    // Settings and options hold the scale to 1..4, so an entry is selected.
    gtk_combo_box_set_active(GTK_COMBO_BOX(sizeList), q72cfg.scale - 1);
    GtkWidget *checked = q72cfg.BlkOnGrn ? greenButton : blueButton;
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(checked), TRUE);
}

// The close box ends the dialog with nothing restored or saved; Esc is "Cancel".
void setup_open(GtkWindow *owner) {
    if (!dialog) {
        g_strlcpy(curPort, gPortPath, sizeof curPort);
        curColor = q72cfg.BlkOnGrn;
        curScale = q72cfg.scale;
        build(owner);
        setup_show_link_state();
        showPort();
        gtk_widget_show_all(dialog);
    }
    gtk_window_present(GTK_WINDOW(dialog));
}
