#include "net/SmtpClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "base/Clock.h"
#include "net/SmtpFixture.h"
#include "support/LoopbackServer.h"

namespace duz {
namespace {

using test::ReadLine;
using test::WriteAll;
using Lines = std::vector<std::string>;

// What the server received: commands (with the "." that ends the message) and the message lines.
struct TSmtpSession {
  Lines Commands;
  Lines Data;
};

// Sends its scripted replies in order, one for the greeting and one for every command; the lines
// between a 354 reply and "." are the message and get no reply. Stops at QUIT or end of stream.
class TScriptedSmtpServer {
 public:
  explicit TScriptedSmtpServer(Lines replies)
      : FReplies(std::move(replies)), FServer([this](int socket) { Serve(socket); }) {}
  int Port() const { return FServer.Port(); }
  const TSmtpSession& Finish() {
    FServer.Stop();
    return FSession;
  }

 private:
  void Serve(int socket) {
    std::size_t next = 0;
    auto reply = [&]() -> std::string {
      if (next == FReplies.size()) return "";
      WriteAll(socket, FReplies[next] + "\r\n");
      return FReplies[next++];
    };
    reply();
    std::string buffer;
    bool inData = false;
    while (std::optional<std::string> line = ReadLine(socket, buffer)) {
      if (inData && *line != ".") {
        FSession.Data.push_back(*line);
        continue;
      }
      inData = false;
      FSession.Commands.push_back(*line);
      if (*line == "QUIT") return;
      inData = reply().starts_with("354");
    }
  }

  Lines FReplies;
  TSmtpSession FSession;
  test::TLoopbackServer FServer;
};

const std::string Greeting = "220 mail.test ESMTP";
const std::string EhloWithLogin = "250-mail.test\r\n250-SIZE 1000000\r\n250 AUTH PLAIN LOGIN";
const std::string Ehlo = "250-mail.test\r\n250 8BITMIME";
const Lines Envelope = {"MAIL FROM:<alarm@example.com>", "RCPT TO:<ops@example.com>", "DATA", ".", "QUIT"};
const Lines Accepted = {"250 sender ok", "250 recipient ok", "354 go ahead", "250 queued"};

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct TDialogueCase {
  const char* Label;
  TSmtpAuthentication Authentication;
  std::string Password;
  Lines Replies;
  Lines ExpectedCommands;
  std::string ExpectedError;
  TSmtpTls Tls = TSmtpTls::None;
};

// Test names show the label, not the bytes of the case.
void PrintTo(const TDialogueCase& c, std::ostream* os) { *os << c.Label; }

class SmtpDialogue : public testing::TestWithParam<TDialogueCase> {};

TEST_P(SmtpDialogue, SendsTheCommandsTheServerAllows) {
  const TDialogueCase& row = GetParam();
  TScriptedSmtpServer server(row.Replies);
  TSmtpSettings settings = LocalSettings(server.Port());
  settings.Authentication = row.Authentication;
  settings.UserName = "alice";
  settings.Password = row.Password;
  settings.Tls = row.Tls;
  TSmtpClient client(settings);

  EXPECT_EQ(SendOne(client, AlarmMessage()), row.ExpectedError);
  EXPECT_EQ(server.Finish().Commands, row.ExpectedCommands);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SmtpDialogue,
    testing::Values(
        TDialogueCase{"AuthLoginWhenAdvertisedAndConfigured", TSmtpAuthentication::Login, "s3cret!",
                      Join({{Greeting, EhloWithLogin, "250 flushed", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6",
                             "235 accepted"},
                            Accepted}),
                      Join({{"EHLO tester", "RSET", "AUTH LOGIN", "YWxpY2U=", "czNjcmV0IQ=="}, Envelope}),
                      ""},
        TDialogueCase{"LowerCaseAuthEqualsFormAdvertisesLogin", TSmtpAuthentication::Login, "s3cret!",
                      Join({{Greeting, "250-mail.test\r\n250 auth=login", "250 flushed", "334 a", "334 b",
                             "235 accepted"},
                            Accepted}),
                      Join({{"EHLO tester", "RSET", "AUTH LOGIN", "YWxpY2U=", "czNjcmV0IQ=="}, Envelope}),
                      ""},
        TDialogueCase{"NoAuthWithEmptyPassword", TSmtpAuthentication::None, "",
                      Join({{Greeting, EhloWithLogin, "250 flushed"}, Accepted}),
                      Join({{"EHLO tester", "RSET"}, Envelope}), ""},
        TDialogueCase{"HeloAfterRefusedEhloAndNoAuth", TSmtpAuthentication::Login, "s3cret!",
                      Join({{Greeting, "502 command not implemented", "250 hello", "250 flushed"}, Accepted}),
                      Join({{"EHLO tester", "HELO tester", "RSET"}, Envelope}), ""},
        TDialogueCase{
            "OnlyCramMd5AdvertisedAndSenderRefused",
            TSmtpAuthentication::Login,
            "s3cret!",
            {Greeting, "250-mail.test\r\n250 AUTH=CRAM-MD5", "250 flushed", "550 5.7.1 Sender rejected"},
            {"EHLO tester", "RSET", "MAIL FROM:<alarm@example.com>", "QUIT"},
            "5.7.1 Sender rejected"},
        TDialogueCase{
            "RefusedGreetingSendsQuit", TSmtpAuthentication::None, "", {"554 go away"}, {"QUIT"}, "go away"},
        TDialogueCase{"RefusedHeloSendsQuit",
                      TSmtpAuthentication::None,
                      "",
                      {Greeting, "500 what", "501 bad greeting name"},
                      {"EHLO tester", "HELO tester", "QUIT"},
                      "bad greeting name"},
        TDialogueCase{"RefusedPasswordSendsQuit",
                      TSmtpAuthentication::Login,
                      "s3cret!",
                      {Greeting, EhloWithLogin, "250 flushed", "334 a", "334 b", "535 5.7.8 Bad credentials"},
                      {"EHLO tester", "RSET", "AUTH LOGIN", "YWxpY2U=", "czNjcmV0IQ==", "QUIT"},
                      "5.7.8 Bad credentials"},
        TDialogueCase{"RefusedMessageSendsQuit",
                      TSmtpAuthentication::None,
                      "",
                      {Greeting, Ehlo, "250 flushed", "250 ok", "250 ok", "354 go", "552 too big"},
                      Join({{"EHLO tester", "RSET"}, Envelope}),
                      "too big"},
        TDialogueCase{"ServerTextCannotSteerATerminal",
                      TSmtpAuthentication::None,
                      "",
                      {Greeting, Ehlo, "250 flushed", "550 no\x1b[2J\a user"},
                      {"EHLO tester", "RSET", "MAIL FROM:<alarm@example.com>", "QUIT"},
                      "no{$1B}[2J{$07} user"},
        TDialogueCase{"ReplyWithoutTextFailsWithItsCode",
                      TSmtpAuthentication::None,
                      "",
                      {Greeting, Ehlo, "250 flushed", "451"},
                      {"EHLO tester", "RSET", "MAIL FROM:<alarm@example.com>", "QUIT"},
                      "451"},
        TDialogueCase{"OverlongReplyLineFailsCleanly",
                      TSmtpAuthentication::None,
                      "",
                      {"220 " + std::string(5000, 'x')},
                      {"QUIT"},
                      "SMTP reply line too long"},
        TDialogueCase{
            "StartTlsRefusedEndsBeforeAuth",
            TSmtpAuthentication::Login,
            "s3cret!",
            {Greeting, "250-mail.test\r\n250-STARTTLS\r\n250 AUTH LOGIN", "454 4.7.0 TLS not available"},
            {"EHLO tester", "STARTTLS", "QUIT"},
            "4.7.0 TLS not available",
            TSmtpTls::StartTls},
        TDialogueCase{"StartTlsAfterHeloIsNeverOffered",
                      TSmtpAuthentication::Login,
                      "s3cret!",
                      {Greeting, "502 command not implemented", "250 hello"},
                      {"EHLO tester", "HELO tester", "QUIT"},
                      "STARTTLS not offered by the server",
                      TSmtpTls::StartTls},
        TDialogueCase{"RepliesSmuggledBeforeTheHandshakeAreRefused",
                      TSmtpAuthentication::Login,
                      "s3cret!",
                      {Greeting, "250-mail.test\r\n250 starttls", "220 go ahead\r\n250 AUTH LOGIN"},
                      {"EHLO tester", "STARTTLS", "QUIT"},
                      "Unexpected data from the server after STARTTLS",
                      TSmtpTls::StartTls}),
    [](const testing::TestParamInfo<TDialogueCase>& row) { return std::string(row.param.Label); });

TEST(SmtpClient, EveryRecipientGetsRcptInOrderAnd251IsAccepted) {
  TScriptedSmtpServer server(
      {Greeting, Ehlo, "250 flushed", "250 ok", "250 ok", "251 will forward", "354 go", "250 queued"});
  TMailMessage message = AlarmMessage();
  message.Recipients = {{"", "ops@example.com"}, {"Night Shift", "night@example.com"}};
  TSmtpClient client(LocalSettings(server.Port()));

  EXPECT_EQ(SendOne(client, message), "");
  const TSmtpSession& session = server.Finish();
  EXPECT_EQ(session.Commands, Join({{"EHLO tester", "RSET", "MAIL FROM:<alarm@example.com>",
                                     "RCPT TO:<ops@example.com>", "RCPT TO:<night@example.com>"},
                                    {"DATA", ".", "QUIT"}}));
  EXPECT_NE(std::find(session.Data.begin(), session.Data.end(),
                      "To: ops@example.com, \"Night Shift\" <night@example.com>"),
            session.Data.end());
}

struct TClockGuard {
  explicit TClockGuard(TDateTime value) { TestClock::Set(value); }
  ~TClockGuard() { TestClock::Reset(); }
};

TEST(SmtpClient, MessageGoesOutWithHeadersInOrderEncodedSubjectAndStuffedDots) {
  TClockGuard clock(EncodeDate(2026, 12, 7) + EncodeTime(22, 15, 2, 0));
  TScriptedSmtpServer server({Greeting, Ehlo, "250 flushed", "250 ok", "250 ok", "354 go", "250 queued"});
  TMailMessage message = AlarmMessage();
  message.Subject = "Kotel \xC4\x8D. 1";
  message.Body = {".hidden", ".", "plain"};
  TSmtpClient client(LocalSettings(server.Port()));

  EXPECT_EQ(SendOne(client, message), "");
  Lines data = server.Finish().Data;
  ASSERT_EQ(data.size(), 10u);
  EXPECT_TRUE(data[3].starts_with("Date: Mon, 7 Dec 2026 22:15:02 ")) << data[3];
  data[3] = "Date";
  EXPECT_EQ(
      data,
      (Lines{"From: alarm@example.com", "Subject: =?UTF-8?Q?Kotel_=C4=8D=2E_1?=", "To: ops@example.com",
             "Date", "X-Priority: 1", "X-Library: Duzezevovivo mail 1.0", "", "..hidden", "..", "plain"}));
}

TEST(SmtpClient, AddressThatCouldInjectCommandsIsRefusedBeforeTheEnvelope) {
  TScriptedSmtpServer server({Greeting, Ehlo, "250 flushed", "250 ok", "250 ok", "354 go", "250 queued"});
  TMailMessage message = AlarmMessage();
  message.Recipients = {{"", "ops@example.com>\r\nRCPT TO:<victim@example.com"}};
  TSmtpClient client(LocalSettings(server.Port()));

  EXPECT_EQ(SendOne(client, message), "Invalid e-mail address");
  EXPECT_EQ(server.Finish().Commands, (Lines{"EHLO tester", "QUIT"}));
}

TEST(SmtpClient, SilentServerFailsAfterTheReplyTimeout) {
  TScriptedSmtpServer server({});
  TSmtpSettings settings = LocalSettings(server.Port());
  settings.ReplyTimeout = std::chrono::milliseconds(200);
  TSmtpClient client(settings);

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(SendOne(client, AlarmMessage()), "Timed out waiting for the server's reply");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_EQ(server.Finish().Commands, (Lines{"QUIT"}));
}

TEST(SmtpClient, StatusReportsFollowTheDialogue) {
  TScriptedSmtpServer server({Greeting, Ehlo, "250 flushed", "250 ok", "250 ok", "354 go", "250 queued"});
  Lines statuses;
  TSmtpClient client(LocalSettings(server.Port()),
                     [&](const std::string& text) { statuses.push_back(text); });

  EXPECT_EQ(SendOne(client, AlarmMessage()), "");
  server.Finish();
  EXPECT_EQ(statuses, (Lines{"Connecting to 127.0.0.1.", "Connected.", "Encoding text", "Disconnecting.",
                             "Disconnected."}));
}

TEST(SmtpClient, HostNameIsResolvedAndReportedFirst) {
  TScriptedSmtpServer server({Greeting, Ehlo});
  TSmtpSettings settings = LocalSettings(server.Port());
  settings.Host = "localhost";
  Lines statuses;
  TSmtpClient client(settings, [&](const std::string& text) { statuses.push_back(text); });

  client.Connect();
  client.Disconnect();
  EXPECT_EQ(server.Finish().Commands, (Lines{"EHLO tester", "QUIT"}));
  ASSERT_GE(statuses.size(), 3u);
  EXPECT_EQ(statuses.front(), "Resolving hostname localhost.");
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Connected."), statuses.end());
}

TEST(SmtpClient, ConnectionFailuresCarryTheSystemsText) {
  struct {
    const char* Label;
    std::string Host;
    int Port;
    std::string Error;
    Lines Statuses;
  } rows[] = {
      {"Refused", "127.0.0.1", test::UnusedPort(), std::strerror(ECONNREFUSED), {"Connecting to 127.0.0.1."}},
      {"EmptyHost", "", 25, "", {"Resolving hostname ."}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TSmtpSettings settings = LocalSettings(row.Port);
    settings.Host = row.Host;
    Lines statuses;
    TSmtpClient client(settings, [&](const std::string& text) { statuses.push_back(text); });
    try {
      client.Connect();
      ADD_FAILURE() << "connected";
    } catch (const Exception& error) {
      if (row.Error.empty()) {
        EXPECT_NE(std::string(error.what()), "");
      } else {
        EXPECT_EQ(std::string(error.what()), row.Error);
      }
    }
    EXPECT_EQ(statuses, row.Statuses);
  }
}

}  // namespace
}  // namespace duz
