#pragma once
// TServerTls: TLS on the metrics port (certfile and keyfile of METRICS), through the HTTP library's
// OpenSSL: TLS 1.2 at least, the certificate chain and key loaded into the library's context.
// The library as Debian builds it loads OpenSSL at run time by the names libssl.so and
// libcrypto.so, which only the development package installs, and asks it for one function that
// OpenSSL 3 has renamed. Two small modules of ours beside the window module (OpenSslNames.cpp),
// loaded here once per process, answer to those names first, so TLS needs neither.
// Created with the server on the owner thread; Configure runs on the thread that starts it.
#include <optional>
#include <string>

namespace duz {

class TServerTls {
 public:
  // Nothing when neither file is given (plain HTTP). Raises Exception for one without the other,
  // files that do not load, a library built without TLS, and modules that cannot be loaded.
  static std::optional<TServerTls> Create(std::string certFile, std::string keyFile);

  // For the library's init_ssl callback: 1 once the context holds the certificate, else -1.
  int Configure(void* sslContext) const noexcept;

 private:
  TServerTls(std::string certFile, std::string keyFile);

  std::string FCertFile;
  std::string FKeyFile;
};

}  // namespace duz
