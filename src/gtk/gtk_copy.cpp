#include "gtk/gtk_copy.h"
#include "app/config.h"
#include "app/lcd_view.h"
#include "gtk/gtk_host.h"

enum { AS_IMAGE, AS_TEXT };

// What the clipboard hands out until another program takes it over.
static GdkPixbuf *copiedImage;
static char copiedText[LCD_ROWS * (LCD_COLS + 1)];

static void handOut(GtkClipboard *, GtkSelectionData *selection, guint info, gpointer) {
    if (info == AS_IMAGE)
        gtk_selection_data_set_pixbuf(selection, copiedImage);
    else
        gtk_selection_data_set_text(selection, copiedText, -1);
}

static void forget(GtkClipboard *, gpointer) {
    g_clear_object(&copiedImage);
}

void copy_screen(GtkWidget *widget) {
    LcdImage image;
    char text[sizeof copiedText];
    map_lock();
    lcd_snapshot(image);
    for (int row = 1; row <= LCD_ROWS; row++) {
        char *line = text + (row - 1) * (LCD_COLS + 1);
        lcd_text_row(row, line);
        line[LCD_COLS] = row < LCD_ROWS ? '\n' : 0;
    }
    map_unlock();

    Size size = bitmap_size(q72cfg.scale);
    Scheme scheme = scheme_for(q72cfg.BlkOnGrn);
    GdkPixbuf *pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, size.width, size.height);
    guchar *rows = gdk_pixbuf_get_pixels(pixbuf);
    int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < size.height; y++)
        lcd_scaled_row(image, q72cfg.scale, scheme, y, rows + y * stride);

    GtkTargetList *list = gtk_target_list_new(nullptr, 0);
    gtk_target_list_add_image_targets(list, AS_IMAGE, TRUE);
    gtk_target_list_add_text_targets(list, AS_TEXT);
    int count = 0;
    GtkTargetEntry *targets = gtk_target_table_new_from_list(list, &count);
    GtkClipboard *clipboard = gtk_widget_get_clipboard(widget, GDK_SELECTION_CLIPBOARD);
    // Taking the clipboard over from ourselves forgets the previous image first.
    if (gtk_clipboard_set_with_data(clipboard, targets, (guint)count, handOut, forget, nullptr)) {
        copiedImage = pixbuf;
        g_strlcpy(copiedText, text, sizeof copiedText);
        // A clipboard manager takes the copy over when the program ends.
        gtk_clipboard_set_can_store(clipboard, targets, count);
    } else {
        g_object_unref(pixbuf);
    }
    gtk_target_table_free(targets, count);
    gtk_target_list_unref(list);
}
