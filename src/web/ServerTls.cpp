#include "web/ServerTls.h"

#include <civetweb.h>
#include <dlfcn.h>

#include <filesystem>
#include <mutex>

#include "base/Exception.h"
#include "net/OpenSslLibrary.h"
#include "net/TlsKeyPair.h"

namespace duz {
namespace {

// Beside the executable's bin/ directory, as the window module.
constexpr const char* NameModules[] = {"../lib/duzezevovivo/libduzezevovivo-crypto.so",
                                       "../lib/duzezevovivo/libduzezevovivo-ssl.so"};
constexpr unsigned LibraryTlsFeature = 2;

// Loaded for the rest of the process: the library keeps what it looked up in them. "" when loaded,
// else why not.
const std::string& LoadNameModules() {
  static std::string error;
  static std::once_flag once;
  std::call_once(once, [] {
    std::error_code ignored;
    const std::filesystem::path bin = std::filesystem::read_symlink("/proc/self/exe", ignored).parent_path();
    for (const char* module : NameModules)
      if (!dlopen((bin / module).lexically_normal().c_str(), RTLD_NOW | RTLD_LOCAL) && error.empty())
        error = dlerror();
  });
  return error;
}

}  // namespace

std::optional<TServerTls> TServerTls::Create(std::string certFile, std::string keyFile) {
  if (certFile.empty() && keyFile.empty()) return std::nullopt;
  CheckKeyPair(certFile, keyFile);
  if (!mg_check_feature(LibraryTlsFeature)) throw Exception("the HTTP library was built without TLS");
  if (const std::string& error = LoadNameModules(); !error.empty())
    throw Exception("TLS cannot be loaded: " + error);
  return TServerTls(std::move(certFile), std::move(keyFile));
}

TServerTls::TServerTls(std::string certFile, std::string keyFile)
    : FCertFile(std::move(certFile)), FKeyFile(std::move(keyFile)) {}

int TServerTls::Configure(void* sslContext) const noexcept {
  auto* context = static_cast<SSL_CTX*>(sslContext);
  try {
    LoadKeyPair(context, FCertFile, FKeyFile);
  } catch (const std::exception&) {
    return -1;  // checked at Create: only a file changed since then gets here
  }
  // SSL_CTX_set_min_proto_version is a macro of this call; LoadKeyPair has loaded the library.
  return TOpenSslLibrary::Load().SslCtxCtrl(context, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION,
                                            nullptr) == 1
             ? 1
             : -1;
}

}  // namespace duz
