#include "web/web_parse.h"
#include "web/web_keys.h"

#include <json-glib/json-glib.h>

#include <cstring>

// The member `name` of `o` if it has that type, else null.
static JsonNode *member(JsonObject *o, const char *name, GType type) {
    JsonNode *node = json_object_get_member(o, name);
    return node && JSON_NODE_HOLDS_VALUE(node) && json_node_get_value_type(node) == type ? node
                                                                                         : nullptr;
}

static bool flagOf(JsonObject *o, const char *name, bool &out) {
    JsonNode *node = member(o, name, G_TYPE_BOOLEAN);
    if (node) out = json_node_get_boolean(node);
    return node;
}

static const char *textOf(JsonObject *o, const char *name) {
    JsonNode *node = member(o, name, G_TYPE_STRING);
    return node ? json_node_get_string(node) : nullptr;
}

static bool isClaim(const char *id) {
    if (!id || std::strlen(id) != WEB_CLAIM_CHARS) return false;
    for (const char *c = id; *c; c++)
        if (!g_ascii_isdigit(*c) && !(*c >= 'a' && *c <= 'f')) return false;
    return true;
}

// `o` holds "t" and the members of its kind, and no others.
static bool readKind(JsonObject *o, PageMessage &m) {
    const char *kind = textOf(o, "t");
    if (!kind) return false;
    guint members = json_object_get_size(o);
    if (std::strcmp(kind, "key") == 0) {
        const char *key = textOf(o, "key"), *code = textOf(o, "code");
        if (members != 7 || !key || !code || !flagOf(o, "down", m.down) ||
            !flagOf(o, "shift", m.shift) || !flagOf(o, "ctrl", m.ctrl) || !flagOf(o, "alt", m.alt))
            return false;
        m.kind = PageMessage::KEY;
        m.vk = web_vk(key, code);
        return true;
    }
    if (std::strcmp(kind, "control") == 0) {
        m.kind = PageMessage::CONTROL;
        return members == 2 && flagOf(o, "take", m.take);
    }
    if (std::strcmp(kind, "claim") == 0) {
        const char *id = textOf(o, "id");
        if (members != 3 || !isClaim(id) || !flagOf(o, "want", m.want)) return false;
        m.kind = PageMessage::CLAIM;
        std::memcpy(m.id, id, sizeof m.id);
        return true;
    }
    return false;
}

bool web_parse(const char *text, size_t size, PageMessage &out) {
    out = {};
    JsonParser *parser = json_parser_new();
    bool read = json_parser_load_from_data(parser, text, (gssize)size, nullptr);
    JsonNode *root = read ? json_parser_get_root(parser) : nullptr;
    bool ok = root && JSON_NODE_HOLDS_OBJECT(root) && readKind(json_node_get_object(root), out);
    g_object_unref(parser);
    return ok;
}
