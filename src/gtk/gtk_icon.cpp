#include "gtk/gtk_icon.h"

#include <gtk/gtk.h>

// The PNGs q72icon draws at build time, one per size (cmake/icons.cmake).
static const char ICONS[] = "/q72display/icons/";

void icon_set_default() {
    GList *icons = nullptr;
    char **names = g_resources_enumerate_children(ICONS, G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    for (char **name = names; name && *name; name++) {
        char *path = g_strconcat(ICONS, *name, nullptr);
        if (GdkPixbuf *icon = gdk_pixbuf_new_from_resource(path, nullptr))
            icons = g_list_prepend(icons, icon);
        g_free(path);
    }
    g_strfreev(names);
    gtk_window_set_default_icon_list(icons);
    g_list_free_full(icons, g_object_unref);
}
