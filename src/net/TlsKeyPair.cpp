#include "net/TlsKeyPair.h"

#include <memory>

#include "base/Exception.h"
#include "net/OpenSslError.h"
#include "net/OpenSslLibrary.h"

namespace duz {
namespace {

// Without it OpenSSL would ask for a pass phrase on the terminal and wait.
int NoPassPhrase(char*, int, int, void*) { return 0; }

}  // namespace

void LoadKeyPair(ssl_ctx_st* context, const std::string& certFile, const std::string& keyFile) {
  const TOpenSslLibrary& ssl = TOpenSslLibrary::Load();
  ssl.ErrClearError();
  ssl.SslCtxSetDefaultPasswdCb(context, NoPassPhrase);
  if (ssl.SslCtxUseCertificateChainFile(context, certFile.c_str()) != 1)
    throw Exception("certfile \"" + certFile + "\" does not load: " + TakeQueuedReason());
  if (ssl.SslCtxUsePrivateKeyFile(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
    throw Exception("keyfile \"" + keyFile + "\" does not load: " + TakeQueuedReason());
}

void CheckKeyPair(const std::string& certFile, const std::string& keyFile) {
  if (certFile.empty() && keyFile.empty()) return;
  if (keyFile.empty()) throw Exception("certfile is given without keyfile");
  if (certFile.empty()) throw Exception("keyfile is given without certfile");
  const TOpenSslLibrary& ssl = TOpenSslLibrary::Load();
  const std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(ssl.SslCtxNew(ssl.TlsMethod()),
                                                                  ssl.SslCtxFree);
  if (!context) throw Exception("TLS: " + TakeQueuedReason());
  LoadKeyPair(context.get(), certFile, keyFile);
}

}  // namespace duz
