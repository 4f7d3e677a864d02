#include "net/BasicAuth.h"

#include <crypt.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>

#include "base/Exception.h"
#include "net/OpenSslLibrary.h"

namespace duz {
namespace {

struct TCredentials {
  std::string Username;
  std::string Password;
};

bool IsSaltCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '/';
}

// "Basic " (the scheme in any case) and the Base64 of "user:password"; nothing for anything else,
// and for a NUL in the text, which crypt would take for the end of the password.
std::optional<TCredentials> ParseCredentials(const TOpenSslLibrary& ssl, std::string_view header) {
  constexpr std::string_view Scheme = "basic ";
  if (header.size() < Scheme.size() || header.size() > TBasicAuth::MaxHeaderLength ||
      !std::equal(Scheme.begin(), Scheme.end(), header.begin(),
                  [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); }))
    return std::nullopt;
  std::string_view encoded = header.substr(Scheme.size());
  while (!encoded.empty() && encoded.front() == ' ') encoded.remove_prefix(1);
  while (!encoded.empty() && encoded.back() == ' ') encoded.remove_suffix(1);
  if (encoded.empty() || encoded.size() % 4 != 0) return std::nullopt;
  std::string decoded(encoded.size() / 4 * 3, '\0');
  const int length = ssl.EvpDecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                        reinterpret_cast<const unsigned char*>(encoded.data()),
                                        static_cast<int>(encoded.size()));
  if (length < 0) return std::nullopt;
  // The decoder counts the bytes that the padding stands for.
  const auto padding = static_cast<size_t>(std::count(encoded.end() - 2, encoded.end(), '='));
  decoded.resize(static_cast<size_t>(length) - padding);
  const size_t colon = decoded.find(':');
  if (colon == std::string::npos || decoded.find('\0') != std::string::npos) return std::nullopt;
  return TCredentials{decoded.substr(0, colon), decoded.substr(colon + 1)};
}

// Compared through their digests, so that the time taken says nothing of the length either.
bool SameText(const TOpenSslLibrary& ssl, std::string_view a, std::string_view b) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digestA, digestB;
  ssl.Sha256(reinterpret_cast<const unsigned char*>(a.data()), a.size(), digestA.data());
  ssl.Sha256(reinterpret_cast<const unsigned char*>(b.data()), b.size(), digestB.data());
  return ssl.CryptoMemcmp(digestA.data(), digestB.data(), digestA.size()) == 0;
}

}  // namespace

std::optional<TBasicAuth> TBasicAuth::Create(std::string username, std::string passwordHash) {
  if (username.empty() && passwordHash.empty()) return std::nullopt;
  if (passwordHash.empty()) throw Exception("username is given without passwordhash");
  if (username.empty()) throw Exception("passwordhash is given without username");
  if (!IsBcryptHash(passwordHash))
    throw Exception("passwordhash is not a bcrypt hash (\"$2y$...\", as htpasswd -B writes it)");
  return TBasicAuth(std::move(username), std::move(passwordHash));
}

bool TBasicAuth::IsBcryptHash(std::string_view text) {
  const auto digit = [&](size_t at) { return text[at] >= '0' && text[at] <= '9'; };
  if (text.size() != 60 || text.substr(0, 2) != "$2" ||
      (text[2] != 'a' && text[2] != 'b' && text[2] != 'y') || text[3] != '$' || !digit(4) || !digit(5) ||
      text[6] != '$')
    return false;
  const int cost = (text[4] - '0') * 10 + (text[5] - '0');
  return cost >= 4 && cost <= 31 && std::all_of(text.begin() + 7, text.end(), IsSaltCharacter);
}

TBasicAuth::TBasicAuth(std::string username, std::string passwordHash)
    : FOpenSsl(&TOpenSslLibrary::Load()),
      FUsername(std::move(username)),
      FPasswordHash(std::move(passwordHash)) {}

bool TBasicAuth::Accepts(const char* authorization) const {
  const std::optional<TCredentials> given = ParseCredentials(*FOpenSsl, authorization ? authorization : "");
  // The hash runs for a missing or malformed header too: every refusal takes as long.
  const std::string& password = given ? given->Password : "";
  const auto data = std::make_unique<crypt_data>();
  const char* hashed = crypt_rn(password.c_str(), FPasswordHash.c_str(), data.get(), sizeof(crypt_data));
  const bool passwordMatches = hashed != nullptr && SameText(*FOpenSsl, hashed, FPasswordHash);
  const bool userMatches = given && SameText(*FOpenSsl, given->Username, FUsername);
  return passwordMatches && userMatches;
}

}  // namespace duz
