#include "web/web_tls.h"

#include <gnutls/gnutls.h>

#include <cstdio>

// Ephemeral key exchange only, AEAD ciphers only, the server's order first.
static const char PRIORITY[] = "NORMAL:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:"
                               "-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:+DHE-RSA:"
                               "-CIPHER-ALL:+AES-256-GCM:+CHACHA20-POLY1305:+AES-128-GCM:"
                               "%SERVER_PRECEDENCE";

void web_tls_restrict() {
    g_setenv("G_TLS_GNUTLS_PRIORITY", PRIORITY, TRUE);
}

// glib-networking takes a key that does not belong to the certificate, and
// then fails every handshake without a word; GnuTLS's own loader checks.
static int checkPair(const char *certPath, const char *keyPath) {
    gnutls_certificate_credentials_t credentials;
    int result = gnutls_certificate_allocate_credentials(&credentials);
    if (result < 0) return result;
    result = gnutls_certificate_set_x509_key_file2(credentials, certPath, keyPath,
                                                   GNUTLS_X509_FMT_PEM, nullptr, 0);
    gnutls_certificate_free_credentials(credentials);
    return result;
}

GTlsCertificate *web_tls_load(const char *certPath, const char *keyPath) {
    GError *error = nullptr;
    GTlsCertificate *certificate = g_tls_certificate_new_from_files(certPath, keyPath, &error);
    int checked = certificate ? checkPair(certPath, keyPath) : 0;
    if (certificate && checked >= 0) return certificate;
    std::fprintf(stderr, "q72display: cannot use %s and %s for TLS: %s\n", certPath, keyPath,
                 error                                          ? error->message
                 : checked == GNUTLS_E_CERTIFICATE_KEY_MISMATCH ? "the key is not the certificate's"
                                                                : gnutls_strerror(checked));
    g_clear_error(&error);
    g_clear_object(&certificate);
    return nullptr;
}
