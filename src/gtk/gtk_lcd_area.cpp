#include "gtk/gtk_lcd_area.h"
#include "app/texts.h"
#include "gtk/gtk_host.h"

#include <gtk/gtk-a11y.h>

// Characters in the text at most: seven rows of cells, row 1's words and the
// line breaks.
enum { TEXT_CHARS_MAX = LCD_COLS * (LCD_ROWS - 1) + ROW1_WORDS_MAX + LCD_ROWS };

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

// A text as characters, for comparing and splicing by offset.
struct Chars {
    gunichar at[TEXT_CHARS_MAX];
    int count;
};

static void decode(const char *utf8, Chars &out) {
    out.count = 0;
    for (const char *p = utf8; *p && out.count < TEXT_CHARS_MAX; p = g_utf8_next_char(p))
        out.at[out.count++] = g_utf8_get_char(p);
}

static const char *encode(const Chars &chars, int from, int count, char out[TEXT_VIEW_BYTES]) {
    int bytes = 0;
    for (int k = from; k < from + count; k++)
        bytes += utf8_put(chars.at[k], out + bytes);
    out[bytes] = 0;
    return out;
}

// Whether `chars` reads `utf8` at `offset`.
static bool reads(const Chars &chars, int offset, const char *utf8) {
    for (const char *p = utf8; *p; p = g_utf8_next_char(p), offset++)
        if (offset >= chars.count || chars.at[offset] != g_utf8_get_char(p)) return false;
    return true;
}

// Overwrites characters of `chars` from `offset` with `utf8`.
static void overwrite(Chars &chars, int offset, const char *utf8) {
    for (const char *p = utf8; *p && offset < chars.count; p = g_utf8_next_char(p))
        chars.at[offset++] = g_utf8_get_char(p);
}

// The bridge sends the string as given: "text-changed::delete" emitted after
// the change would report the new text as removed.
static void tellReplaced(AtkObject *lcd, bool system, int offset, int count, const char *removed,
                         int inserted, const char *text) {
    if (count)
        g_signal_emit_by_name(lcd, system ? "text-remove::system" : "text-remove", offset, count,
                              removed);
    if (inserted)
        g_signal_emit_by_name(lcd, system ? "text-insert::system" : "text-insert", offset, inserted,
                              text);
}

// One change with the system detail, over the span where `from` and `to`
// differ: screen readers keep their copy right and do not speak it as typed.
static void tellDifference(AtkObject *lcd, const Chars &from, const Chars &to) {
    int start = 0, tail = 0;
    while (start < from.count && start < to.count && from.at[start] == to.at[start])
        start++;
    while (tail < from.count - start && tail < to.count - start &&
           from.at[from.count - 1 - tail] == to.at[to.count - 1 - tail])
        tail++;
    int removed = from.count - start - tail, inserted = to.count - start - tail;
    static char removedText[TEXT_VIEW_BYTES], insertedText[TEXT_VIEW_BYTES];
    tellReplaced(lcd, true, start, removed, encode(from, start, removed, removedText), inserted,
                 encode(to, start, inserted, insertedText));
}

// What the change reader heard, as ATK events, with `shown` already the new
// text (the bridge may read it back while it is told):
// - characters typed at the cursor: "text-remove" of the old cells, then
//   "text-insert" of the new ones, which readers speak as new output;
// - every other change to the text (a whole screen, a row blanked, the status
//   line drawn): one "text-remove::system" / "text-insert::system" pair over
//   the span that differs, told first; a whole screen is that one pair;
// - a whole-screen change ("screen changed") and each announcement: the
//   "announcement" signal;
// - last, "text-caret-moved" when the caret moved.
// The typed runs' offsets are into the new text, so the quiet pair goes to
// the new text with the typed runs still on it undone, last first. A typed
// run overwritten within the same frame is still told, and a second quiet
// pair then puts the text right.
static void onSpeech(const Speech *events, int count, const TextView &view) {
    static Chars model, now;
    AtkObject *lcd = gtk_widget_get_accessible(area);
    int caret = shown.caret;
    decode(shown.text, model);
    shown = view;
    decode(view.text, now);

    static Chars withoutTyped;
    withoutTyped = now;
    for (int k = count - 1; k >= 0; k--)
        if (events[k].kind == SPEECH_TYPED && reads(withoutTyped, events[k].offset, events[k].text))
            overwrite(withoutTyped, events[k].offset, events[k].removed);
    tellDifference(lcd, model, withoutTyped);
    model = withoutTyped;

    for (int k = 0; k < count; k++) {
        const Speech &s = events[k];
        if (s.kind == SPEECH_TYPED && s.offset + s.count <= model.count) {
            tellReplaced(lcd, false, s.offset, s.count, s.removed, s.count, s.text);
            overwrite(model, s.offset, s.text);
        } else if (s.kind == SPEECH_SCREEN || s.kind == SPEECH_ANNOUNCE) {
            g_signal_emit_by_name(lcd, "announcement", s.text);
        }
    }
    tellDifference(lcd, model, now);
    if (view.caret != caret) g_signal_emit_by_name(lcd, "text-caret-moved", view.caret);
}

// ---- The widget and its accessible ----

static void lcd_accessible_initialize(AtkObject *object, gpointer data) {
    ATK_OBJECT_CLASS(lcd_accessible_parent_class)->initialize(object, data);
    // Screen readers speak the new text of a focused terminal as it comes.
    atk_object_set_role(object, ATK_ROLE_TERMINAL);
    atk_object_set_name(object, LCD_ACCESSIBLE_NAME);
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
