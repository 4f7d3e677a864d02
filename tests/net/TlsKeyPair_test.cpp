#include "net/TlsKeyPair.h"

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "support/TempDir.h"
#include "support/TestCa.h"

namespace duz {
namespace {

TEST(TlsKeyPairTest, FilesThatCannotServeAreRefusedWithTheReason) {
  test::TTempDir dir;
  const test::TTestCa ca(dir.Path().string());
  const test::TCertificateFiles server = ca.Issue("server", "IP:127.0.0.1");
  const test::TCertificateFiles other = ca.Issue("other", "IP:127.0.0.1");
  EXPECT_NO_THROW(CheckKeyPair("", "")) << "neither: no TLS";
  EXPECT_NO_THROW(CheckKeyPair(server.Cert, server.Key));
  const std::pair<std::pair<std::string, std::string>, std::string> rows[] = {
      {{server.Cert, ""}, "certfile is given without keyfile"},
      {{"", server.Key}, "keyfile is given without certfile"},
      {{dir.File("none.pem"), server.Key},
       "certfile \"" + dir.File("none.pem") + "\" does not load: No such file or directory"},
      {{server.Key, server.Key}, "certfile \"" + server.Key + "\" does not load: PEM lib"},
      {{server.Cert, other.Key}, "keyfile \"" + other.Key + "\" does not load: key values mismatch"},
  };
  for (const auto& [files, message] : rows) {
    try {
      CheckKeyPair(files.first, files.second);
      ADD_FAILURE() << message;
    } catch (const Exception& error) {
      EXPECT_EQ(error.Message(), message);
    }
  }
}

}  // namespace
}  // namespace duz
