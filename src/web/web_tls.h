// TLS for the panel: the protocol versions and suites allowed, and the
// certificate with its key.
#pragma once
#include <gio/gio.h>

// TLS 1.2 or later with forward-secret suites only, asked of
// glib-networking's GnuTLS backend through its environment variable, which
// it reads once, at its first connection. Call before any thread starts.
void web_tls_restrict();

// The certificate and its key, or null with the reason on standard error
// when they cannot be read or the key is not the certificate's.
GTlsCertificate *web_tls_load(const char *certPath, const char *keyPath);
