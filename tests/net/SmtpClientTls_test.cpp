// The mail client against a TLS-speaking SMTP server on 127.0.0.1 whose keys and certificates are
// made by the test: STARTTLS and implicit TLS, the certificate checks, and the guarantee that
// nothing after the greeting (least of all the password) goes out unless the handshake succeeded.
#include <gtest/gtest.h>

#include <algorithm>

#include "net/SmtpFixture.h"
#include "support/LoopbackServer.h"
#include "support/SmtpSink.h"
#include "support/TempDir.h"
#include "support/TestCa.h"

namespace duz {
namespace {

using Lines = std::vector<std::string>;
using TSinkTls = test::TSmtpSinkOptions::TTls;

class SmtpClientTls : public testing::Test {
 protected:
  TSmtpSettings Settings(int port, TSmtpTls tls) const {
    TSmtpSettings settings = LocalSettings(port);
    settings.UserName = "alice";
    settings.Password = "s3cret!";
    settings.Authentication = TSmtpAuthentication::Login;
    settings.Tls = tls;
    settings.CaFile = FCa.CertFile();
    return settings;
  }

  // The error of one whole e-mail, or "" when it was accepted.
  static std::string SendOne(const TSmtpSettings& settings, Lines* statuses = nullptr) {
    TSmtpClient client(settings, [statuses](const std::string& text) {
      if (statuses != nullptr) statuses->push_back(text);
    });
    return duz::SendOne(client, AlarmMessage());
  }

  test::TTempDir FDir;
  test::TTestCa FCa{FDir.Path().string()};
  const test::TCertificateFiles FServerCert = FCa.Issue("server", "DNS:localhost,IP:127.0.0.1");
};

TEST_F(SmtpClientTls, StartTlsCarriesAuthAndMessageInsideTlsAndAsksForTheMechanismsAgain) {
  test::TSmtpSink sink(TSinkTls::StartTls, FServerCert);
  Lines statuses;

  ASSERT_EQ(SendOne(Settings(sink.Port(), TSmtpTls::StartTls), &statuses), "");
  ASSERT_TRUE(sink.WaitForSessions(1, std::chrono::seconds(5)));
  const test::TSmtpSession session = sink.Sessions()[0];
  // The sink advertises AUTH only inside TLS: the AUTH proves that the second EHLO reply counted.
  EXPECT_EQ(session.Commands, (Lines{"EHLO tester", "STARTTLS", "EHLO tester", "RSET", "AUTH LOGIN",
                                     "YWxpY2U=", "czNjcmV0IQ==", "MAIL FROM:<alarm@example.com>",
                                     "RCPT TO:<ops@example.com>", "DATA", ".", "QUIT"}));
  EXPECT_EQ(session.CommandsInClear, 2u);
  EXPECT_EQ(session.Body(), Lines{"Temperature 51.3"});

  ASSERT_EQ(statuses.size(), 7u);
  EXPECT_EQ(Lines(statuses.begin(), statuses.begin() + 3),
            (Lines{"Connecting to 127.0.0.1.", "Connected.", "Starting TLS."}));
  EXPECT_TRUE(statuses[3].starts_with("TLS established (TLSv1.") && statuses[3].ends_with(")."))
      << statuses[3];
  EXPECT_EQ(Lines(statuses.begin() + 4, statuses.end()),
            (Lines{"Encoding text", "Disconnecting.", "Disconnected."}));
}

TEST_F(SmtpClientTls, ImplicitTlsSpeaksTlsFromTheFirstByte) {
  test::TSmtpSink sink(TSinkTls::Implicit, FServerCert);
  TSmtpSettings settings = Settings(sink.Port(), TSmtpTls::Implicit);
  settings.Host = "localhost";  // the certificate's DNS name, checked with the host name

  ASSERT_EQ(SendOne(settings), "");
  ASSERT_TRUE(sink.WaitForSessions(1, std::chrono::seconds(5)));
  const test::TSmtpSession session = sink.Sessions()[0];
  EXPECT_EQ(session.CommandsInClear, 0u);
  EXPECT_EQ(session.Commands.front(), "EHLO tester");
  EXPECT_NE(std::find(session.Commands.begin(), session.Commands.end(), "AUTH LOGIN"),
            session.Commands.end());
  EXPECT_EQ(session.Body(), Lines{"Temperature 51.3"});
}

TEST_F(SmtpClientTls, CertificateChecksRefuseWhatTheyMustAndNothingFollowsARefusal) {
  const test::TCertificateFiles selfSigned =
      test::TTestCa::SelfSigned(FDir.Path().string(), "self", "DNS:localhost,IP:127.0.0.1");
  const test::TCertificateFiles otherName = FCa.Issue("other", "DNS:mail.example.com");
  struct {
    const char* Label;
    test::TCertificateFiles Certificate;
    std::string Host;
    bool Verify;
    std::string CaFile;  // "-" for the test CA
    std::string Error;   // "" when the mail must arrive
  } rows[] = {
      {"SelfSignedRefused", selfSigned, "127.0.0.1", true, "-",
       "certificate verify failed: self-signed certificate"},
      {"SelfSignedAcceptedWithoutVerification", selfSigned, "127.0.0.1", false, "-", ""},
      {"AddressMismatchRefused", otherName, "127.0.0.1", true, "-",
       "certificate verify failed: IP address mismatch"},
      {"HostNameMismatchRefused", otherName, "localhost", true, "-",
       "certificate verify failed: hostname mismatch"},
      {"UnknownAuthorityRefusedWithoutCaFile", FServerCert, "127.0.0.1", true, "",
       "certificate verify failed: unable to get local issuer certificate"},
      {"UnreadableCaFileRefused", FServerCert, "127.0.0.1", true, FDir.File("missing.pem"),
       "Cannot load the CA file " + FDir.File("missing.pem") + ": No such file or directory"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    test::TSmtpSink sink(TSinkTls::StartTls, row.Certificate);
    TSmtpSettings settings = Settings(sink.Port(), TSmtpTls::StartTls);
    settings.Host = row.Host;
    settings.TlsVerify = row.Verify;
    if (row.CaFile != "-") settings.CaFile = row.CaFile;

    EXPECT_EQ(SendOne(settings), row.Error);
    ASSERT_TRUE(sink.WaitForSessions(1, std::chrono::seconds(5)));
    const Lines commands = sink.Sessions()[0].Commands;
    if (row.Error.empty()) {
      EXPECT_EQ(sink.Mails().size(), 1u);
    } else {
      EXPECT_EQ(commands, (Lines{"EHLO tester", "STARTTLS"})) << "no AUTH, and no QUIT into a broken session";
    }
  }
}

TEST_F(SmtpClientTls, ServerVanishingAfterTheMessageCostsNeitherTheMailNorTheProcess) {
  // The client's QUIT meets the closed socket and draws a reset; its closing alert then meets EPIPE,
  // which must not come as SIGPIPE.
  test::TSmtpSinkOptions options;
  options.Tls = TSinkTls::Implicit;
  options.Certificate = FServerCert;
  options.HangUpAfter = ".";
  test::TSmtpSink sink(options);

  EXPECT_EQ(SendOne(Settings(sink.Port(), TSmtpTls::Implicit)), "");
  EXPECT_EQ(sink.Mails().size(), 1u);
}

TEST_F(SmtpClientTls, PlainServerIsLeftBeforeAnyAuthInEitherMode) {
  {
    test::TSmtpSink sink;  // advertising AUTH LOGIN in clear
    EXPECT_EQ(SendOne(Settings(sink.Port(), TSmtpTls::StartTls)), "STARTTLS not offered by the server");
    ASSERT_TRUE(sink.WaitForSessions(1, std::chrono::seconds(5)));
    EXPECT_EQ(sink.Sessions()[0].Commands, (Lines{"EHLO tester", "QUIT"}));
  }
  {
    test::TSmtpSink sink;
    EXPECT_EQ(SendOne(Settings(sink.Port(), TSmtpTls::Implicit)), "TLS failed: wrong version number");
    ASSERT_TRUE(sink.WaitForSessions(1, std::chrono::seconds(5)));
    const Lines commands = sink.Sessions()[0].Commands;
    EXPECT_EQ(std::find(commands.begin(), commands.end(), "AUTH LOGIN"), commands.end());
  }
}

TEST_F(SmtpClientTls, ServerThatStallsInTheHandshakeFailsWithinTheReplyTimeout) {
  for (const TSmtpTls tls : {TSmtpTls::Implicit, TSmtpTls::StartTls}) {
    SCOPED_TRACE(tls == TSmtpTls::Implicit ? "Implicit" : "StartTls");
    // Answers the dialogue up to STARTTLS, then reads the handshake and never answers it.
    test::TLoopbackServer server([tls](int socket) {
      std::string buffer;
      if (tls == TSmtpTls::StartTls) {
        test::WriteAll(socket, "220 ready\r\n");
        test::ReadLine(socket, buffer);
        test::WriteAll(socket, "250-mail.test\r\n250 STARTTLS\r\n");
        test::ReadLine(socket, buffer);
        test::WriteAll(socket, "220 go ahead\r\n");
      }
      while (test::ReadUntil(socket, buffer, "\n")) buffer.clear();
    });
    TSmtpSettings settings = Settings(server.Port(), tls);
    settings.ReplyTimeout = std::chrono::milliseconds(300);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendOne(settings), "Timed out in the TLS handshake");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    server.Stop();
  }
}

}  // namespace
}  // namespace duz
