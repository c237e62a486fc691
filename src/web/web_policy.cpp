#include "web/web_policy.h"

#include <cstring>

// The base64 SHA-256 of the text between the page's <script> and </script>,
// as a CSP source: 'sha256-...'.
static char *scriptHash(GBytes *page) {
    gsize size = 0;
    const char *html = (const char *)g_bytes_get_data(page, &size);
    static const char open[] = "<script>", close[] = "</script>";
    const char *start = g_strstr_len(html, (gssize)size, open);
    const char *end = start ? g_strstr_len(start, html + size - start, close) : nullptr;
    if (!end) return g_strdup("'none'");
    start += std::strlen(open);
    GChecksum *checksum = g_checksum_new(G_CHECKSUM_SHA256);
    g_checksum_update(checksum, (const guchar *)start, end - start);
    guint8 digest[32];
    gsize length = sizeof digest;
    g_checksum_get_digest(checksum, digest, &length);
    g_checksum_free(checksum);
    char *base64 = g_base64_encode(digest, length);
    char *source = g_strdup_printf("'sha256-%s'", base64);
    g_free(base64);
    return source;
}

const char *web_page_policy(GBytes *page) {
    static char *policy;
    if (policy) return policy;
    char *script = scriptHash(page);
    policy = g_strdup_printf("default-src 'none'; script-src %s; style-src 'unsafe-inline'; "
                             "connect-src 'self'; img-src data:; base-uri 'none'; "
                             "form-action 'none'; frame-ancestors 'none'",
                             script);
    g_free(script);
    return policy;
}
