// The modules libduzezevovivo-ssl.so and libduzezevovivo-crypto.so, which answer to the names
// libssl.so and libcrypto.so that the HTTP library loads OpenSSL by (see web/ServerTls.h). Each
// passes every look-up on to the system's OpenSSL it depends on; this gives the one function the
// library asks for that OpenSSL 3 has renamed.
#include <openssl/ssl.h>

#undef SSL_get_peer_certificate

extern "C" {
X509* SSL_get_peer_certificate(const SSL* ssl);
// The old name of OpenSSL 1.1; it too returned a reference of the caller's own.
X509* SSL_get_peer_certificate(const SSL* ssl) { return SSL_get1_peer_certificate(ssl); }
}
