#include "net/BasicAuth.h"

#include <gtest/gtest.h>

#include "base/Exception.h"

namespace duz {
namespace {

// "pa:ss wörd" as htpasswd -B writes it.
constexpr const char* Hash = "$2y$05$abcdefghijklmnopqrstuuHYAqSTZaD2G3ZsfHYCUGgOo5vA33Sre";

TEST(BasicAuthTest, AcceptsOnlyTheUserWithItsPassword) {
  const std::optional<TBasicAuth> auth = TBasicAuth::Create("prometheus", Hash);
  ASSERT_TRUE(auth);
  struct TRow {
    const char* Label;
    const char* Header;
    bool Accepted;
  };
  const std::string overlong = "Basic " + std::string(TBasicAuth::MaxHeaderLength, 'A');
  const TRow rows[] = {
      {"right, a colon in the password", "Basic cHJvbWV0aGV1czpwYTpzcyB3w7ZyZA==", true},
      {"scheme in any case", "bAsIc cHJvbWV0aGV1czpwYTpzcyB3w7ZyZA==", true},
      {"no header", nullptr, false},
      {"the password cut at its colon", "Basic cHJvbWV0aGV1czpwYTpzcw==", false},
      {"user in another case", "Basic UHJvbWV0aGV1czpwYTpzcyB3w7ZyZA==", false},
      {"a NUL after the password, where crypt would stop", "Basic cHJvbWV0aGV1czpwYTpzcyB3w7ZyZAA=", false},
      {"no colon", "Basic cGFzc3dvcmQ=", false},
      {"not Base64", "Basic cHJvbWV0aGV1czpwYTpzcyB3w7ZyZA=!", false},
      {"another scheme", "Bearer cHJvbWV0aGV1czpwYTpzcyB3w7ZyZA==", false},
      {"overlong", overlong.c_str(), false},
  };
  for (const TRow& row : rows) EXPECT_EQ(auth->Accepts(row.Header), row.Accepted) << row.Label;
}

TEST(BasicAuthTest, CreateRefusesWhatCouldNeverLogIn) {
  EXPECT_FALSE(TBasicAuth::Create("", "")) << "no login asked";
  struct TRow {
    const char* Label;
    const char* Username;
    std::string Hash;
    const char* Message;
  };
  const char* notBcrypt = "passwordhash is not a bcrypt hash (\"$2y$...\", as htpasswd -B writes it)";
  const std::string hash = Hash;
  const TRow rows[] = {
      {"user alone", "prometheus", "", "username is given without passwordhash"},
      {"hash alone", "", hash, "passwordhash is given without username"},
      {"a password where the hash goes", "prometheus", "secret", notBcrypt},
      {"MD5 crypt", "prometheus", "$1$abcdefgh$abcdefghijklmnopqrstuv", notBcrypt},
      {"cost below 4", "prometheus", "$2y$03" + hash.substr(6), notBcrypt},
      {"unknown variant", "prometheus", "$2x$" + hash.substr(4), notBcrypt},
      {"one character short", "prometheus", hash.substr(0, 59), notBcrypt},
      {"not a salt character", "prometheus", hash.substr(0, 59) + "!", notBcrypt},
  };
  for (const TRow& row : rows) {
    try {
      TBasicAuth::Create(row.Username, row.Hash);
      ADD_FAILURE() << row.Label << " was accepted";
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), row.Message) << row.Label;
    }
  }
  EXPECT_TRUE(TBasicAuth::Create("u", "$2b$31" + hash.substr(6))) << "the highest cost";
}

}  // namespace
}  // namespace duz
