#include "net/TlsKeyPair.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <memory>

#include "base/Exception.h"
#include "net/OpenSslError.h"

namespace duz {
namespace {

// Without it OpenSSL would ask for a pass phrase on the terminal and wait.
int NoPassPhrase(char*, int, int, void*) { return 0; }

}  // namespace

void LoadKeyPair(ssl_ctx_st* context, const std::string& certFile, const std::string& keyFile) {
  ERR_clear_error();
  SSL_CTX_set_default_passwd_cb(context, NoPassPhrase);
  if (SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) != 1)
    throw Exception("certfile \"" + certFile + "\" does not load: " + TakeQueuedReason());
  if (SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    throw Exception("keyfile \"" + keyFile + "\" does not load: " + TakeQueuedReason());
}

void CheckKeyPair(const std::string& certFile, const std::string& keyFile) {
  if (certFile.empty() && keyFile.empty()) return;
  if (keyFile.empty()) throw Exception("certfile is given without keyfile");
  if (certFile.empty()) throw Exception("keyfile is given without certfile");
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_method()), SSL_CTX_free);
  if (!context) throw Exception("TLS: " + TakeQueuedReason());
  LoadKeyPair(context.get(), certFile, keyFile);
}

}  // namespace duz
