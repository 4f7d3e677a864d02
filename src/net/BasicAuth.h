#pragma once
// TBasicAuth: the one user of a server's HTTP basic authentication (username and passwordhash of
// METRICS), the password kept as a bcrypt hash as htpasswd -B or mkpasswd -m bcrypt write it, and
// checked with the system's crypt. Accepts takes as long whatever part of the user or the password
// is right, so that timing gives nothing away: every call runs the hash once. Immutable; any
// thread may call Accepts.
#include <optional>
#include <string>
#include <string_view>

namespace duz {

struct TOpenSslLibrary;

class TBasicAuth {
 public:
  // The header a refusal (401) carries.
  static constexpr const char* Challenge =
      "WWW-Authenticate: Basic realm=\"duzezevovivo\", charset=\"UTF-8\"\r\n";
  // Longer Authorization headers are refused unread.
  static constexpr size_t MaxHeaderLength = 4096;

  // Nothing when neither is given (no authentication). Raises Exception for one without the other
  // and for a hash that is not bcrypt; the message never shows the hash, which may be a password
  // written in the wrong place. Raises with dlerror()'s reason when OpenSSL cannot be loaded.
  static std::optional<TBasicAuth> Create(std::string username, std::string passwordHash);
  // "$2a$", "$2b$" or "$2y$", a cost from 04 to 31, "$" and 53 characters of salt and hash.
  static bool IsBcryptHash(std::string_view text);

  // authorization: the request's Authorization header, nullptr without one.
  bool Accepts(const char* authorization) const;

 private:
  TBasicAuth(std::string username, std::string passwordHash);

  const TOpenSslLibrary* FOpenSsl;
  std::string FUsername;
  std::string FPasswordHash;
};

}  // namespace duz
