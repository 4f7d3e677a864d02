#pragma once
// The certificate and private key that a TLS endpoint of ours shows its peer (certfile and keyfile
// of METRICS and MQTT), loaded with OpenSSL. They are checked with the configuration and before a
// server or client starts, so that a bad file is named with its reason at once rather than found
// at the first handshake. Any thread.
#include <string>

struct ssl_ctx_st;

namespace duz {

// Loads the certificate chain (PEM, the certificate first) and the key into context. Raises
// Exception naming the file and OpenSSL's reason for a file that does not load, a key that is
// protected by a pass phrase (nobody is there to type it) and a key that is not the certificate's
// ("key values mismatch"), and with dlerror()'s reason when OpenSSL cannot be loaded.
void LoadKeyPair(ssl_ctx_st* context, const std::string& certFile, const std::string& keyFile);
// Nothing to do when neither is given. Raises for one given without the other, and for what
// LoadKeyPair raises.
void CheckKeyPair(const std::string& certFile, const std::string& keyFile);

}  // namespace duz
