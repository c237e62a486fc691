#include "gtk/gtk_window.h"
#include "app/config.h"
#include "app/lcd_view.h"
#include "app/startup_screen.h"
#include "app/texts.h"
#include "gtk/gtk_copy.h"
#include "gtk/gtk_history.h"
#include "gtk/gtk_host.h"
#include "gtk/gtk_keys.h"
#include "gtk/gtk_lcd_area.h"
#include "gtk/gtk_serial.h"
#include "gtk/gtk_setup.h"

#include <cstring>
#include <initializer_list>

enum {
    WINDOW_X = 50,
    WINDOW_Y = 50,
    FOCUS_DELAY_MS = 500, // from the window shown to its activation
};

static GtkWidget *window;
static GtkWidget *lcdArea;
static GtkWidget *windowMenu;

// The picture in cairo's pixel format, 0x00RRGGBB, big enough for scale 4.
static uint32_t pixels[LCD_HEIGHT * 4][LCD_WIDTH * 4];
static cairo_surface_t *picture;
// The map as the last frame took it: what the window shows, or is about to.
// Each frame asks to draw only the rows that changed since the one before.
static LcdImage framed;
// The map as `pixels` show it, at that scale and scheme (scale 0: nothing
// yet); only the LCD rows that changed since are drawn again.
static LcdImage pictured;
static int picturedScale, picturedScheme;

// Brings `pixels` up to `image`: each LCD row that changed, drawn once at
// the scale and copied to the picture's other rows for it.
static void updatePicture(const LcdImage image) {
    int scale = q72cfg.scale;
    Size size = bitmap_size(q72cfg.scale);
    Scheme scheme = scheme_for(q72cfg.BlkOnGrn);
    bool all = scale != picturedScale || q72cfg.BlkOnGrn != picturedScheme;
    uint8_t rgb[3 * LCD_WIDTH * 4];
    cairo_surface_flush(picture);
    for (int y = 0; y < size.height; y += scale) {
        const uint8_t *row = image[y / scale];
        if (!all && std::memcmp(pictured[y / scale], row, LCD_WIDTH) == 0) continue;
        std::memcpy(pictured[y / scale], row, LCD_WIDTH);
        lcd_scaled_row(image, scale, scheme, y, rgb);
        for (int x = 0; x < size.width; x++)
            pixels[y][x] = (uint32_t)rgb[3 * x] << 16 | rgb[3 * x + 1] << 8 | rgb[3 * x + 2];
        for (int k = 1; k < scale && y + k < size.height; k++)
            std::memcpy(pixels[y + k], pixels[y], sizeof pixels[0]);
    }
    cairo_surface_mark_dirty(picture);
    picturedScale = scale;
    picturedScheme = q72cfg.BlkOnGrn;
}

// The bitmap at the scale, in device pixels: no smoothing, no HiDPI stretch.
// It shows the map as the last frame took it, so that every row drawn is one
// that frame asked for, or unchanged since. Device pixels beyond it (the area
// is rounded up to whole widget units) take the background colour.
static gboolean onDraw(GtkWidget *widget, cairo_t *cr, gpointer) {
    updatePicture(framed);
    Size size = bitmap_size(q72cfg.scale);
    Rgb off = scheme_for(q72cfg.BlkOnGrn).off;
    cairo_set_source_rgb(cr, off.r / 255.0, off.g / 255.0, off.b / 255.0);
    cairo_paint(cr);
    int factor = gtk_widget_get_scale_factor(widget);
    cairo_surface_set_device_scale(picture, factor, factor);
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
    cairo_rectangle(cr, 0, 0, (double)size.width / factor, (double)size.height / factor);
    cairo_fill(cr);
    return TRUE;
}

// Takes the map and asks for the LCD rows that changed since the last frame
// only: the rest of the window is neither painted nor sent to the display
// again.
static void onFrame() {
    LcdImage image;
    map_snapshot_for_paint(image);
    int top = LCD_HEIGHT, bottom = -1;
    for (int y = 0; y < LCD_HEIGHT; y++)
        if (std::memcmp(framed[y], image[y], LCD_WIDTH) != 0) {
            top = y < top ? y : top;
            bottom = y;
        }
    if (bottom < 0) return;
    std::memcpy(framed, image, sizeof framed);
    int scale = q72cfg.scale, factor = gtk_widget_get_scale_factor(lcdArea);
    Size size = bitmap_size(q72cfg.scale);
    gtk_widget_queue_draw_area(lcdArea, 0, top * scale / factor, (size.width + factor - 1) / factor,
                               ((bottom + 1) * scale + factor - 1) / factor - top * scale / factor);
}

// The window menu under the LCD's top left corner, its first item selected,
// for the keyboard.
static void openMenuByKey(GdkEvent *event) {
    gtk_menu_popup_at_widget(GTK_MENU(windowMenu), lcdArea, GDK_GRAVITY_NORTH_WEST,
                             GDK_GRAVITY_NORTH_WEST, event);
    gtk_menu_shell_select_first(GTK_MENU_SHELL(windowMenu), FALSE);
}

// Every key goes to the modem, none to GTK's own key handling, but the Menu
// key: the key table gives it no meaning for the modem, and it opens the
// window menu, the keyboard's way to Setup and the rest.
static gboolean onKey(GtkWidget *, GdkEventKey *event, gpointer) {
    lcd_area_key(event);
    if (event->keyval == GDK_KEY_Menu) {
        if (event->type == GDK_KEY_PRESS) openMenuByKey((GdkEvent *)event);
        return TRUE;
    }
    uint8_t code = key_code_of(event);
    if (code) link_send(code);
    return TRUE;
}

// Shown at last, the window takes the keyboard, and the LCD the focus within
// it, so that a screen reader says the window and the LCD's line. Asked for
// before the window is mapped, the focus can go astray with no window manager;
// asked for at once, the window's activation can come before the program's
// accessibility bridge has learnt that a screen reader listens, and is lost.
// So the LCD takes the focus only now, and a window that became active
// earlier (the pointer's window, with no window manager) is told active again:
// a reader that heard it the first time takes no notice. A message box or
// dialog shown meanwhile keeps the focus.
static gboolean takeFocus(gpointer) {
    GList *windows = gtk_window_list_toplevels();
    bool dialogShown = false;
    for (GList *w = windows; w; w = w->next)
        dialogShown |= w->data != window && gtk_widget_get_visible(GTK_WIDGET(w->data)) &&
                       gtk_window_get_window_type(GTK_WINDOW(w->data)) == GTK_WINDOW_TOPLEVEL;
    g_list_free(windows);
    gtk_widget_set_can_focus(lcdArea, TRUE);
    if (gtk_window_is_active(GTK_WINDOW(window)))
        g_signal_emit_by_name(gtk_widget_get_accessible(window), "activate");
    else if (!dialogShown)
        gtk_window_present(GTK_WINDOW(window));
    gtk_widget_grab_focus(lcdArea);
    return G_SOURCE_REMOVE;
}

static gboolean onMapped(GtkWidget *, GdkEvent *, gpointer) {
    g_timeout_add(FOCUS_DELAY_MS, takeFocus, nullptr);
    return FALSE;
}

// Besides the Menu key, the mouse opens things: a right click the setup
// dialog, a middle click or Ctrl+left click the window menu.
static gboolean onButton(GtkWidget *, GdkEventButton *event, gpointer) {
    if (event->type != GDK_BUTTON_PRESS) return TRUE;
    if (event->button == GDK_BUTTON_SECONDARY)
        setup_open(GTK_WINDOW(window));
    else if (event->button == GDK_BUTTON_MIDDLE ||
             (event->button == GDK_BUTTON_PRIMARY && (event->state & GDK_CONTROL_MASK)))
        gtk_menu_popup_at_pointer(GTK_MENU(windowMenu), (GdkEvent *)event);
    return TRUE;
}

static void onSetupItem(GtkMenuItem *, gpointer) {
    setup_open(GTK_WINDOW(window));
}

static void onOnTopItem(GtkCheckMenuItem *item, gpointer) {
    gtk_window_set_keep_above(GTK_WINDOW(window), gtk_check_menu_item_get_active(item));
}

static void onCopyItem(GtkMenuItem *, gpointer) {
    copy_screen(window);
}

static void onHistoryItem(GtkMenuItem *, gpointer) {
    history_window_open();
}

static GtkWidget *buildMenu() {
    GtkWidget *menu = gtk_menu_new();
    GtkWidget *setup = gtk_menu_item_new_with_label("Setup...");
    GtkWidget *onTop = gtk_check_menu_item_new_with_label("Always on Top");
    GtkWidget *copy = gtk_menu_item_new_with_label("Copy Screen");
    GtkWidget *history = gtk_menu_item_new_with_label("History");
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(onTop), TRUE);
    g_signal_connect(setup, "activate", G_CALLBACK(onSetupItem), nullptr);
    g_signal_connect(onTop, "toggled", G_CALLBACK(onOnTopItem), nullptr);
    g_signal_connect(copy, "activate", G_CALLBACK(onCopyItem), nullptr);
    g_signal_connect(history, "activate", G_CALLBACK(onHistoryItem), nullptr);
    for (GtkWidget *item : {setup, onTop, copy, history})
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
    gtk_widget_show_all(menu);
    gtk_menu_attach_to_widget(GTK_MENU(menu), lcdArea, nullptr);
    return menu;
}

// The client area is the bitmap, in device pixels, rounded up to whole widget
// units when a unit is more than one device pixel (GDK_SCALE).
static void applySize() {
    Size size = bitmap_size(q72cfg.scale);
    int factor = gtk_widget_get_scale_factor(lcdArea);
    gtk_widget_set_size_request(lcdArea, (size.width + factor - 1) / factor,
                                (size.height + factor - 1) / factor);
}

static void onScaleFactor(GObject *, GParamSpec *, gpointer) {
    applySize();
}

void window_apply_settings() {
    applySize();
    gtk_widget_queue_draw(lcdArea);
}

void window_show_link_state() {
    tell_link_state(link_state());
    bool lost = link_state() == LINK_LOST;
    gtk_window_set_title(GTK_WINDOW(window), lost ? LINK_LOST_TITLE : PROGRAM_TITLE);
    setup_show_link_state();
}

GtkWindow *window_create() {
    picture = cairo_image_surface_create_for_data((unsigned char *)pixels, CAIRO_FORMAT_RGB24,
                                                  LCD_WIDTH * 4, LCD_HEIGHT * 4, sizeof pixels[0]);
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), PROGRAM_TITLE);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_keep_above(GTK_WINDOW(window), TRUE);
    gtk_window_move(GTK_WINDOW(window), WINDOW_X, WINDOW_Y);
    lcdArea = lcd_area_new();
    gtk_widget_add_events(lcdArea, GDK_BUTTON_PRESS_MASK);
    gtk_container_add(GTK_CONTAINER(window), lcdArea);
    gtk_widget_set_can_focus(lcdArea, FALSE); // until takeFocus: keys go to the window's handler
    applySize();
    windowMenu = buildMenu();

    g_signal_connect(lcdArea, "draw", G_CALLBACK(onDraw), nullptr);
    g_signal_connect(lcdArea, "button-press-event", G_CALLBACK(onButton), nullptr);
    g_signal_connect(lcdArea, "notify::scale-factor", G_CALLBACK(onScaleFactor), nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), nullptr);
    g_signal_connect(window, "key-release-event", G_CALLBACK(onKey), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(onMapped), nullptr);
    // Made now, the window's accessible is there to tell that the window
    // became active; made lazily, it could come too late for that.
    gtk_widget_get_accessible(window);

    draw_startup_screen();
    map_snapshot_for_paint(framed); // shown before any frame
    on_frame(onFrame);
    return GTK_WINDOW(window);
}
