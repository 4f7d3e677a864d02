// -testmail of the real binary against the test SMTP server: one e-mail to every distinct address
// of the configuration's email actions, the result per address on stdout and in the exit status,
// TLS as configured, and a clear line when there is nothing to send or no way to send it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>

#include "support/EventLogFile.h"
#include "support/Process.h"
#include "support/RegistryFile.h"
#include "support/SmtpSink.h"
#include "support/TempDir.h"
#include "support/TestCa.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

// Two conditions of two thermometers name four addresses, one of them twice.
constexpr const char* Thermometers =
    "<KELVO comport=\"1\" caption=\"Room\"><CONDITION>"
    "<email address=\"ops@example.com, Boss &lt;boss@example.com&gt;\" message=\"max\"/></CONDITION></KELVO>"
    "<kelvo comport=\"2\"><condition><email address=\"ops@example.com\"/>"
    "<email address=\"night@example.com\"/></condition></kelvo>";

struct TRun {
  int Status;
  std::string Out, Err;
};

class TestMailTest : public ::testing::Test {
 protected:
  TestMailTest() { test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {}); }

  // The configuration with an SMTP element of these attributes (none: no SMTP element).
  void Configure(const std::string& smtp, const std::string& thermometers = Thermometers) const {
    FDir.Write("config.xml", "<config><WAIT wait=\"60\"/>" +
                                 (smtp.empty() ? "" : "<SMTP from=\"alarm@example.com\" " + smtp + "/>") +
                                 thermometers + "</config>");
  }
  std::string Server(const test::TSmtpSink& sink, const std::string& host = "127.0.0.1") const {
    return "address=\"" + host + "\" port=\"" + std::to_string(sink.Port()) + "\"";
  }

  TRun Run(const std::string& switchText = "-testmail") const {
    test::TChildProcess program({test::BinPath("duzezevovivo"), switchText},
                                {{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")},
                                 {"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")},
                                 {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "false"},
                                 {"NOTIFY_SOCKET", ""},
                                 {"DISPLAY", ""},
                                 {"WAYLAND_DISPLAY", ""}},
                                FDir.Path().string());
    const int status = program.Wait(20s);
    return {status, program.Stdout(), program.Stderr()};
  }
  Lines Events() const { return test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru"); }

  static bool Has(const std::string& text, const std::string& line) {
    return text.find(line + "\n") != std::string::npos;
  }

  test::TTempDir FDir;
};

TEST_F(TestMailTest, EveryDistinctAddressGetsOneMailAndARefusalMakesTheRunFail) {
  char host[256] = "";
  gethostname(host, sizeof host - 1);
  test::TSmtpSink sink;
  Configure(Server(sink) + " username=\"op\" password=\"secret\"");

  const TRun run = Run("/TestMail");
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  ASSERT_EQ(sink.Mails().size(), 3u) << run.Out;
  Lines recipients;
  for (const test::TSmtpSession& mail : sink.Mails()) {
    const Lines& commands = mail.Commands;
    std::copy_if(commands.begin(), commands.end(), std::back_inserter(recipients),
                 [](const std::string& command) { return command.starts_with("RCPT"); });
    EXPECT_EQ(mail.Body(), Lines{std::string("Test e-mail from Duzezevovivo on ") + host});
  }
  EXPECT_EQ(recipients, (Lines{"RCPT TO:<ops@example.com>", "RCPT TO:<boss@example.com>",
                               "RCPT TO:<night@example.com>"}));
  const auto subject = [&](size_t i) {
    const Lines data = sink.Mails()[i].Data;
    return *std::find_if(data.begin(), data.end(), [](auto& line) { return line.starts_with("Subject: "); });
  };
  EXPECT_EQ(subject(0), "Subject: Room test");
  EXPECT_EQ(subject(2), "Subject: Kelvo_on_COM2 test");
  for (const char* line :
       {"[Room] > SMTP: Password: *****", "[Room] > SMTP status: Connected.", "ops@example.com: sent",
        "boss@example.com: sent", "[Kelvo_on_COM2] > SMTP status: Disconnected.", "night@example.com: sent"})
    EXPECT_TRUE(Has(run.Out, line)) << line << "\n" << run.Out;
  EXPECT_EQ(Events(), Lines{}) << "a password in clear to this computer crosses no network";

  test::TSmtpSinkOptions refusing;
  refusing.RefusedRecipients = {"boss@example.com"};
  test::TSmtpSink strict(refusing);
  Configure(Server(strict));
  const TRun refused = Run();
  EXPECT_EQ(refused.Status, 1) << refused.Out << refused.Err;
  EXPECT_TRUE(Has(refused.Out, "boss@example.com: failed - 5.1.1 no such user")) << refused.Out;
  EXPECT_TRUE(Has(refused.Out, "night@example.com: sent")) << "the refusal stops nothing else";
  EXPECT_EQ(strict.Mails().size(), 2u);
}

TEST_F(TestMailTest, StartTlsWithTheConfiguredCaFileCarriesThePasswordInsideTls) {
  const test::TTestCa ca(FDir.Path().string());
  test::TSmtpSink sink(test::TSmtpSinkOptions::TTls::StartTls, ca.Issue("server", "IP:127.0.0.1"));
  Configure(
      Server(sink) + " TLS=\"StartTLS\" CAfile=\"" + ca.CertFile() + "\" username=\"op\" password=\"secret\"",
      "<KELVO comport=\"1\" caption=\"Room\"><CONDITION><email address=\"ops@example.com\"/>"
      "</CONDITION></KELVO>");

  const TRun run = Run();
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  ASSERT_EQ(sink.Mails().size(), 1u);
  const test::TSmtpSession mail = sink.Mails()[0];
  EXPECT_EQ(mail.CommandsInClear, 2u) << "EHLO and STARTTLS only";
  EXPECT_NE(std::find(mail.Commands.begin(), mail.Commands.end(), "AUTH LOGIN"), mail.Commands.end());
  EXPECT_TRUE(Has(run.Out, "[Room] > SMTP status: Starting TLS.")) << run.Out;
  EXPECT_NE(run.Out.find("[Room] > SMTP status: TLS established (TLSv1."), std::string::npos) << run.Out;
}

TEST_F(TestMailTest, PasswordInClearToAServerOffThisComputerIsWarnedOncePerRun) {
  test::TSmtpSink sink;
  // Linux takes 0.0.0.0 to mean this computer, yet it is not on 127.0.0.0/8: a server on loopback
  // that counts as one elsewhere.
  Configure(Server(sink, "0.0.0.0") + " username=\"op\" password=\"secret\"");
  const TRun run = Run();
  ASSERT_EQ(run.Status, 0) << run.Out << run.Err;
  EXPECT_EQ(sink.Mails().size(), 3u);
  EXPECT_EQ(Events(), Lines{"SMTP password is sent without encryption"});
}

TEST_F(TestMailTest, NothingToSendOrNoWayToSendItIsALineAndStatusOne) {
  test::TSmtpSink sink;
  const struct {
    const char* Label;
    std::string Smtp;          // "-": no configuration file
    std::string Thermometers;  // of the configuration
    std::string Line;          // on stderr
  } rows[] = {
      {"NoConfiguration", "-", Thermometers, "Config file not found! (" + FDir.File("config.xml") + ")"},
      {"NoSmtpElement", "", Thermometers, "No SMTP element in the configuration " + FDir.File("config.xml")},
      {"NoEmailAction", Server(sink),
       "<KELVO comport=\"1\"><CONDITION><netmessage address=\"PC1\"/></CONDITION></KELVO>",
       "No email action in the configuration " + FDir.File("config.xml")},
      {"UnknownTlsMode", Server(sink) + " tls=\"ssl\"", Thermometers,
       "SMTP settings: tls \"ssl\" is not one of NONE, STARTTLS, IMPLICIT"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    std::filesystem::remove(FDir.File("config.xml"));
    if (row.Smtp != "-") Configure(row.Smtp, row.Thermometers);
    const TRun run = Run();
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, row.Line + "\n");
  }
  EXPECT_TRUE(sink.Sessions().empty()) << "nothing is sent in clear when TLS was asked for";
}

}  // namespace
}  // namespace duz
