#include "gtk/gtk_message.h"

static void wrapAnywhere(GtkWidget *widget, gpointer) {
    if (GTK_IS_LABEL(widget)) gtk_label_set_line_wrap_mode(GTK_LABEL(widget), PANGO_WRAP_WORD_CHAR);
}

GtkWidget *error_box_new(GtkWindow *owner, const char *primary, const char *secondary) {
    GtkWidget *box = gtk_message_dialog_new(owner, GTK_DIALOG_DESTROY_WITH_PARENT,
                                            GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s", primary);
    if (secondary)
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", secondary);
    gtk_window_set_title(GTK_WINDOW(box), "Error");
    // The labels wrap at word boundaries only, so a long path would not.
    gtk_container_foreach(
        GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(box))), wrapAnywhere,
        nullptr);
    return box;
}

void error_box_show(GtkWindow *owner, const char *primary, const char *secondary) {
    GtkWidget *box = error_box_new(owner, primary, secondary);
    g_signal_connect(box, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
    gtk_widget_show(box);
}
