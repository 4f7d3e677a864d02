#include "core/MailJob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "status/StatusBoard.h"
#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/LogCapture.h"
#include "support/LoopbackServer.h"
#include "support/SmtpSink.h"
#include "support/TempDir.h"
#include "support/TestCa.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using Pauses = std::vector<std::chrono::seconds>;

class MailJobTest : public ::testing::Test {
 protected:
  static std::unique_ptr<TMailJob> Job(int port, std::shared_ptr<TKelvoStatus> status = nullptr) {
    TSmtpSettings settings;
    settings.Host = "127.0.0.1";
    settings.Port = port;
    settings.ReplyTimeout = 5s;
    TMailMessage message;
    message.From = "alarm@example.com";
    message.Recipients = {{"", "ops@example.com"}};
    message.Subject = "Room";
    message.Body = {"hot"};
    return std::make_unique<TMailJob>(settings, message, "Room", std::move(status));
  }
  std::vector<std::string> Events() const {
    return test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru");
  }

  test::TTempDir FDir;
  test::TScopedEnv FEvents{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
};

// Attempts made one after another until the job is done: the pauses it asked for, what it told the
// event log, and how the thermometer's status counted it (once, whatever the attempts).
TEST_F(MailJobTest, FailuresThatMayPassAreRetriedAndRefusalsOfTheMessageAreFinal) {
  const Pauses retried = {60s, 300s, 900s};
  const struct {
    const char* Label;
    std::map<std::string, std::string> Replies;  // of the sink; none: nothing listens
    bool Listening;
    Pauses Expected;
    const char* GivenUp;  // the event-log error, "" for none
  } rows[] = {
      {"accepted", {}, true, {}, ""},
      {"no server",
       {},
       false,
       retried,
       "E-mail to ops@example.com given up after 4 attempts: Connection refused"},
      {"4xx to MAIL",
       {{"MAIL", "451 try later"}},
       true,
       retried,
       "E-mail to ops@example.com given up after 4 attempts: try later"},
      {"5xx greeting",
       {{"", "554 go away"}},
       true,
       retried,
       "E-mail to ops@example.com given up after 4 attempts: go away"},
      {"5xx to MAIL",
       {{"MAIL", "550 relay denied"}},
       true,
       {},
       "E-mail to ops@example.com given up after 1 attempt: relay denied"},
      {"5xx to RCPT",
       {{"RCPT", "550 no such user"}},
       true,
       {},
       "E-mail to ops@example.com given up after 1 attempt: no such user"},
      {"5xx to DATA",
       {{"DATA", "554 no"}},
       true,
       {},
       "E-mail to ops@example.com given up after 1 attempt: no"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove(FDir.File("events.log"));
    test::TSmtpSinkOptions options;
    options.Replies = row.Replies;
    test::TSmtpSink sink(options);
    const auto status = std::make_shared<TStatusBoard>()->Add("Room", 1);
    const auto job = Job(row.Listening ? sink.Port() : test::UnusedPort(), status);
    const TEventLogger events("Deredoru");
    Pauses pauses;
    for (int attempt = 0; attempt < 10; ++attempt) {
      const std::optional<std::chrono::seconds> pause = job->Attempt(events);
      if (!pause) break;
      pauses.push_back(*pause);
    }
    EXPECT_EQ(pauses, row.Expected) << row.Label;
    EXPECT_EQ(Events(), *row.GivenUp ? std::vector<std::string>{row.GivenUp} : std::vector<std::string>{})
        << row.Label;
    EXPECT_EQ(sink.Mails().size(), *row.GivenUp ? 0u : 1u) << row.Label;
    const TResultCounts counted = status->Copy().Emails;
    EXPECT_EQ(counted.Succeeded + counted.Failed, 1u) << row.Label;
    EXPECT_EQ(counted.Failed, *row.GivenUp ? 1u : 0u) << row.Label;
  }
}

TEST_F(MailJobTest, RetriesComeOneFiveAndFifteenMinutesAfterEachFailureOnTheSettableClock) {
  test::TLogCapture log;
  test::TSmtpSinkOptions options;
  options.Replies = {{"MAIL", "451 try later"}};
  test::TSmtpSink sink(options);
  TestClock::Set(EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 0));
  {
    TOutbox outbox("E-mail", TEventLogger("Deredoru"));
    outbox.Enqueue(Job(sink.Port()));
    ASSERT_TRUE(test::WaitUntil([&] { return sink.Sessions().size() == 1; }, 5s));
    for (const int minutes : {1, 5, 15}) {
      const size_t before = sink.Sessions().size();
      TestClock::Advance(minutes * 60 - 1);
      std::this_thread::sleep_for(2 * TOutbox::RecheckPeriod + 100ms);
      EXPECT_EQ(sink.Sessions().size(), before) << "a second before the retry after " << minutes << " min";
      TestClock::Advance(1);
      EXPECT_TRUE(test::WaitUntil([&] { return sink.Sessions().size() == before + 1; }, 5s))
          << "the retry after " << minutes << " min";
    }
    EXPECT_TRUE(test::WaitUntil([&] { return outbox.Pending() == 0; }, 5s))
        << "given up after the third retry";
  }
  TestClock::Reset();
  EXPECT_EQ(log.Lines("EMAIL retry"),
            (std::vector<std::string>{"[Room] > EMAIL retry 1 of 3", "[Room] > EMAIL retry 2 of 3",
                                      "[Room] > EMAIL retry 3 of 3"}));
  EXPECT_EQ(Events(),
            std::vector<std::string>{"E-mail to ops@example.com given up after 4 attempts: try later"});
}

// The values that cannot be used are failures of the e-mail (ConditionItemTest).
TEST(ReadSmtpSettingsTest, TlsAttributesAreReadWithNamesAndValuesInAnyCase) {
  const struct {
    const char* Attributes;  // of the SMTP element
    TSmtpTls Tls;
    bool Verify;
    const char* CaFile;
  } rows[] = {
      {"", TSmtpTls::None, true, ""},
      {"tls=\"starttls\" cafile=\"/etc/ca.pem\"", TSmtpTls::StartTls, true, "/etc/ca.pem"},
      {"TLS=\"Implicit\" TlsVerify=\"FALSE\" CAFile=\"ca.pem\"", TSmtpTls::Implicit, false, "ca.pem"},
      {"tls=\"NONE\" tlsverify=\"0\"", TSmtpTls::None, false, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Attributes);
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string((std::string("<SMTP ") + row.Attributes + "/>").c_str()));
    const TSmtpSettings settings = ReadSmtpSettings(document.child("SMTP"));
    EXPECT_EQ(settings.Tls, row.Tls);
    EXPECT_EQ(settings.TlsVerify, row.Verify);
    EXPECT_EQ(settings.CaFile, row.CaFile);
  }
}

// Accepting any certificate is the sysadmin's choice, but never a silent one: every e-mail says so
// in debug mode.
TEST_F(MailJobTest, UnverifiedCertificateIsSaidOnEveryEmailInDebugMode) {
  const test::TCertificateFiles selfSigned =
      test::TTestCa::SelfSigned(FDir.Path().string(), "self", "IP:127.0.0.1");
  test::TSmtpSink sink(test::TSmtpSinkOptions::TTls::Implicit, selfSigned);
  TSmtpSettings settings;
  settings.Host = "127.0.0.1";
  settings.Port = sink.Port();
  settings.ReplyTimeout = 5s;
  settings.Tls = TSmtpTls::Implicit;
  const TMailMessage message = AlarmMessage({}, {{"", "ops@example.com"}}, "Room", "hot");
  const TEventLogger events("Deredoru");
  DebugMode = true;
  for (const bool verify : {true, false}) {
    SCOPED_TRACE(verify ? "verified" : "not verified");
    settings.TlsVerify = verify;
    std::vector<std::string> lines;
    const TMailOutcome outcome = SendLoggedMail(
        settings, message, "Room", 0, [&](const std::string& line) { lines.push_back(line); }, events);
    EXPECT_EQ(outcome.Result, verify ? TMailResult::Failed : TMailResult::Sent) << outcome.Reason;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "[Room] > SMTP: certificate not verified"),
              verify ? 0 : 1);
  }
  DebugMode = false;
  EXPECT_EQ(sink.Mails().size(), 1u);
}

}  // namespace
}  // namespace duz
