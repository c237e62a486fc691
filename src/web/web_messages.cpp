#include "web/web_messages.h"
#include "app/config.h"
#include "app/lcd_view.h"
#include "app/texts.h"
#include "gtk/gtk_settings.h"
#include "web/web_screen.h"

#include <json-glib/json-glib.h>

#include <initializer_list>

static JsonBuilder *begin(const char *type) {
    JsonBuilder *b = json_builder_new();
    json_builder_begin_object(b);
    json_builder_set_member_name(b, "t");
    json_builder_add_string_value(b, type);
    return b;
}

static char *end(JsonBuilder *b) {
    json_builder_end_object(b);
    JsonNode *root = json_builder_get_root(b);
    char *text = json_to_string(root, FALSE);
    json_node_unref(root);
    g_object_unref(b);
    return text;
}

static void addColour(JsonBuilder *b, const Rgb &rgb) {
    json_builder_begin_array(b);
    for (int v : {rgb.r, rgb.g, rgb.b})
        json_builder_add_int_value(b, v);
    json_builder_end_array(b);
}

char *message_hello() {
    JsonBuilder *b = begin("hello");
    json_builder_set_member_name(b, "title");
    json_builder_add_string_value(b, PROGRAM_TITLE);
    json_builder_set_member_name(b, "scale");
    json_builder_add_int_value(b, q72cfg.scale >= 1 && q72cfg.scale <= 4 ? q72cfg.scale : 1);
    json_builder_set_member_name(b, "scheme");
    json_builder_add_string_value(b, scheme_name(q72cfg.BlkOnGrn));
    json_builder_set_member_name(b, "colours");
    json_builder_begin_object(b);
    for (int blkOnGrn : {1, 0}) {
        Scheme scheme = scheme_for(blkOnGrn);
        json_builder_set_member_name(b, scheme_name(blkOnGrn));
        json_builder_begin_array(b);
        addColour(b, scheme.on);
        addColour(b, scheme.off);
        json_builder_end_array(b);
    }
    json_builder_end_object(b);
    return end(b);
}

char *message_state(const char *link, int viewers, const char *control) {
    JsonBuilder *b = begin("state");
    json_builder_set_member_name(b, "link");
    json_builder_add_string_value(b, link);
    json_builder_set_member_name(b, "viewers");
    json_builder_add_int_value(b, viewers);
    json_builder_set_member_name(b, "control");
    json_builder_add_string_value(b, control);
    return end(b);
}

// Typed characters are joined into one announcement; a page too far behind
// hears "screen changed" for what it missed.
static void addSaid(JsonBuilder *b, uint64_t &saidSeen) {
    uint64_t said = screen_said_count();
    json_builder_begin_array(b);
    if (said - saidSeen > WEB_SAID_KEPT) {
        json_builder_add_string_value(b, "screen changed");
        saidSeen = said - WEB_SAID_KEPT;
    }
    GString *typed = g_string_new(nullptr);
    for (; saidSeen < said; saidSeen++) {
        bool isTyped;
        const char *text = screen_said(saidSeen, &isTyped);
        if (isTyped) {
            g_string_append(typed, text);
            continue;
        }
        if (typed->len) json_builder_add_string_value(b, typed->str);
        g_string_truncate(typed, 0);
        json_builder_add_string_value(b, text);
    }
    if (typed->len) json_builder_add_string_value(b, typed->str);
    g_string_free(typed, TRUE);
    json_builder_end_array(b);
}

char *message_text(unsigned rows, uint64_t &saidSeen) {
    JsonBuilder *b = begin("text");
    if (rows) {
        json_builder_set_member_name(b, "rows");
        json_builder_begin_array(b);
        for (int r = 0; r < LCD_ROWS; r++)
            if (rows & (1u << r)) {
                json_builder_begin_array(b);
                json_builder_add_int_value(b, r);
                json_builder_add_string_value(b, screen_row(r));
                json_builder_end_array(b);
            }
        json_builder_end_array(b);
    }
    if (saidSeen != screen_said_count()) {
        json_builder_set_member_name(b, "say");
        addSaid(b, saidSeen);
    }
    return end(b);
}
