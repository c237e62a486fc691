#include "gtk/gtk_lcd_area.h"
#include "app/texts.h"
#include "gtk/gtk_host.h"

#include <gtk/gtk-a11y.h>

struct LcdArea {
    GtkDrawingArea parent;
};
struct LcdAreaClass {
    GtkDrawingAreaClass parent;
};
struct LcdAccessible {
    GtkWidgetAccessible parent;
};
struct LcdAccessibleClass {
    GtkWidgetAccessibleClass parent;
};

static void lcd_text_init(AtkTextIface *iface);

G_DEFINE_TYPE_WITH_CODE(LcdAccessible, lcd_accessible, GTK_TYPE_WIDGET_ACCESSIBLE,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_TEXT, lcd_text_init))
G_DEFINE_TYPE(LcdArea, lcd_area, GTK_TYPE_DRAWING_AREA)

static GtkWidget *area;
// The text as screen readers were last told it; the accessible reads this.
static TextView shown;

// ---- The text, read by character offset ----

static int clampOffset(int offset) {
    return offset < 0 ? 0 : offset > shown.chars ? shown.chars : offset;
}

// The line (0..7) that holds character `offset`; a line's '\n' is its own.
static int lineOf(int offset) {
    int line = 0;
    while (line < LCD_ROWS - 1 && shown.lineChar[line + 1] <= offset)
        line++;
    return line;
}

// Where a line ends, before its '\n' (the last line has none).
static int lineEnd(int line) {
    return line < LCD_ROWS - 1 ? shown.lineChar[line + 1] - 1 : shown.chars;
}

static bool isSpace(int offset) {
    char c = shown.text[text_view_byte(shown, offset)];
    return c == ' ' || c == '\n';
}

// Words are what lies between spaces and line breaks.
static bool wordStartsAt(int offset) {
    return offset < shown.chars && !isSpace(offset) && (offset == 0 || isSpace(offset - 1));
}

static bool wordEndsAt(int offset) {
    return offset > 0 && !isSpace(offset - 1) && (offset == shown.chars || isSpace(offset));
}

static gchar *copyText(int start, int end) {
    int from = text_view_byte(shown, start);
    return g_strndup(shown.text + from, (gsize)(text_view_byte(shown, end) - from));
}

static gchar *getText(AtkText *, gint start, gint end) {
    start = clampOffset(start);
    end = end < 0 ? shown.chars : clampOffset(end);
    return copyText(start, end < start ? start : end);
}

static gint getCharacterCount(AtkText *) {
    return shown.chars;
}

static gint getCaretOffset(AtkText *) {
    return shown.caret;
}

static gunichar getCharacterAtOffset(AtkText *, gint offset) {
    if (offset < 0 || offset >= shown.chars) return 0;
    return g_utf8_get_char(shown.text + text_view_byte(shown, offset));
}

// The character, word or line at `offset`, by ATK's rules: a LINE_START
// line ends with its '\n', a LINE_END line starts with the '\n' before it; a
// word runs to the next word's start (or end). The LCD has no sentences:
// they read as lines.
static gchar *getTextAtOffset(AtkText *, gint offset, AtkTextBoundary boundary, gint *start,
                              gint *end) {
    offset = clampOffset(offset);
    int line = lineOf(offset);
    int from = offset, to = offset;
    switch (boundary) {
    case ATK_TEXT_BOUNDARY_CHAR: to = offset < shown.chars ? offset + 1 : offset; break;
    case ATK_TEXT_BOUNDARY_WORD_START:
    case ATK_TEXT_BOUNDARY_WORD_END: {
        bool (*edge)(int) = boundary == ATK_TEXT_BOUNDARY_WORD_START ? wordStartsAt : wordEndsAt;
        while (from > 0 && !edge(from))
            from--;
        to = offset + 1;
        while (to < shown.chars && !edge(to))
            to++;
        to = to > shown.chars ? shown.chars : to;
        break;
    }
    case ATK_TEXT_BOUNDARY_LINE_END:
    case ATK_TEXT_BOUNDARY_SENTENCE_END:
        from = line ? shown.lineChar[line] - 1 : 0;
        to = lineEnd(line);
        break;
    default: // LINE_START, SENTENCE_START
        from = shown.lineChar[line];
        to = line < LCD_ROWS - 1 ? shown.lineChar[line + 1] : shown.chars;
        break;
    }
    *start = from;
    *end = to;
    return copyText(from, to);
}

// A cell's place on the widget: cell n of a row spans LCD pixel columns
// 6n - 5 .. 6n; the words of row 1 are spread over the row's width.
static void getCharacterExtents(AtkText *text, gint offset, gint *x, gint *y, gint *width,
                                gint *height, AtkCoordType coords) {
    *x = *y = *width = *height = 0;
    if (offset < 0 || offset >= shown.chars) return;
    int line = lineOf(offset);
    int column = offset - shown.lineChar[line];
    int length = lineEnd(line) - shown.lineChar[line];
    GtkAllocation size;
    gtk_widget_get_allocation(area, &size);
    double across = (double)size.width / LCD_WIDTH, down = (double)size.height / LCD_HEIGHT;
    double cell = (double)(LCD_COLS * 6) / (length ? length : 1);
    int originX = 0, originY = 0, ignored;
    atk_component_get_extents(ATK_COMPONENT(text), &originX, &originY, &ignored, &ignored, coords);
    *x = originX + (int)((1 + column * cell) * across);
    *y = originY + (int)(line * 8 * down);
    *width = column < length ? (int)(cell * across) : 0;
    *height = (int)(8 * down);
}

static void lcd_text_init(AtkTextIface *iface) {
    iface->get_text = getText;
    iface->get_character_count = getCharacterCount;
    iface->get_caret_offset = getCaretOffset;
    iface->get_character_at_offset = getCharacterAtOffset;
    iface->get_text_at_offset = getTextAtOffset;
    iface->get_character_extents = getCharacterExtents;
}

// ---- What the change reader heard, told as ATK events ----

// The last key pressed or released, as screen readers weigh it: some take an
// insert after a printable key for that key's echo, and digits after Space,
// Return or Tab for a count.
enum LastKey { KEY_NONE, KEY_PRINTABLE, KEY_SPACING, KEY_OTHER };
static LastKey lastKey;

void lcd_area_key(const GdkEventKey *event) {
    if (event->is_modifier) return;
    guint key = event->keyval;
    gunichar ch = gdk_keyval_to_unicode(key);
    if (key == GDK_KEY_space || key == GDK_KEY_Return || key == GDK_KEY_Tab)
        lastKey = KEY_SPACING;
    else if (ch && g_unichar_isprint(ch))
        lastKey = KEY_PRINTABLE;
    else
        lastKey = KEY_OTHER;
}

// Whether a reader may take this typed text for something other than new
// output: a single character after a printable key, digits only after Space,
// Return or Tab, or (after any other key) text that does not end at the caret.
static bool mayPassUnheard(const Speech &s, int caret) {
    const char *text = s.text;
    switch (lastKey) {
    case KEY_PRINTABLE: return g_utf8_strlen(text, -1) <= 1;
    case KEY_SPACING:
        for (const char *p = text; *p; p = g_utf8_next_char(p)) {
            gunichar ch = g_utf8_get_char(p);
            if (!g_unichar_isdigit(ch) && !g_unichar_isspace(ch)) return false;
        }
        return true;
    default: return s.offset + s.count != caret;
    }
}

static void addLine(GString *told, const char *text) {
    if (!text[0]) return;
    if (told->len) g_string_append_c(told, '\n');
    g_string_append(told, text);
}

// The change reader's events as ATK events, with `shown` already the new text
// (the bridge may read it back while it is told):
// - words written at the cursor: "text-remove" of the old cells, then
//   "text-insert" of the new ones, which readers speak as new output;
// - a new screen, a flash message and the link's state: the LCD's
//   description, which screen readers speak when it changes, and the
//   "announcement" signal for those that speak that; so are typed words that
//   a reader might pass over (see mayPassUnheard), which still go as inserts;
// - speeds and flags: the "announcement" signal only;
// - last, "text-caret-moved" when the caret moved.
// Every other change (a row blanked, a scroll, the status line and its
// meter) is told nothing: the text reads right when asked, and nobody hears
// a redraw.
static void onSpeech(const Speech *events, int count, const TextView &view) {
    AtkObject *lcd = gtk_widget_get_accessible(area);
    int caret = shown.caret;
    shown = view;
    GString *told = g_string_new(nullptr);
    for (int k = 0; k < count; k++) {
        const Speech &s = events[k];
        if (s.kind == SPEECH_TYPED) {
            g_signal_emit_by_name(lcd, "text-remove", s.offset, s.count, s.removed);
            g_signal_emit_by_name(lcd, "text-insert", s.offset, s.count, s.text);
            char text[SPEECH_TEXT_MAX];
            g_strlcpy(text, s.text, sizeof text);
            if (mayPassUnheard(s, view.caret)) addLine(told, g_strstrip(text));
        } else if (s.kind == SPEECH_SCREEN) {
            addLine(told, view.screen);
        } else if (s.kind == SPEECH_ANNOUNCE && s.alert) {
            addLine(told, s.text);
        } else if (s.kind == SPEECH_ANNOUNCE) {
            g_signal_emit_by_name(lcd, "announcement", s.text);
        }
    }
    if (told->len) {
        atk_object_set_description(lcd, told->str);
        g_signal_emit_by_name(lcd, "announcement", told->str);
    }
    g_string_free(told, TRUE);
    if (view.caret != caret) g_signal_emit_by_name(lcd, "text-caret-moved", view.caret);
}

// ---- The widget and its accessible ----

static void lcd_accessible_initialize(AtkObject *object, gpointer data) {
    ATK_OBJECT_CLASS(lcd_accessible_parent_class)->initialize(object, data);
    // Screen readers speak the new text of a focused terminal as it comes.
    atk_object_set_role(object, ATK_ROLE_TERMINAL);
    atk_object_set_name(object, LCD_ACCESSIBLE_NAME);
    // ATK tells no description set for the first time: the first new screen
    // must be told like every other.
    atk_object_set_description(object, "");
}

static void lcd_accessible_class_init(LcdAccessibleClass *klass) {
    ATK_OBJECT_CLASS(klass)->initialize = lcd_accessible_initialize;
}

static void lcd_accessible_init(LcdAccessible *) {}

static void lcd_area_class_init(LcdAreaClass *klass) {
    gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), lcd_accessible_get_type());
}

static void lcd_area_init(LcdArea *self) {
    gtk_widget_set_can_focus(GTK_WIDGET(self), TRUE);
}

// Shown at last, with the start-up screen drawn: the text is there to read
// before the modem has sent anything.
static void onMap(GtkWidget *, gpointer) {
    tell_speech();
}

GtkWidget *lcd_area_new() {
    area = GTK_WIDGET(g_object_new(lcd_area_get_type(), nullptr));
    on_speech(onSpeech);
    g_signal_connect(area, "map", G_CALLBACK(onMap), nullptr);
    return area;
}
