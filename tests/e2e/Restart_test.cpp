// What the real program keeps across a restart (its state file in the working directory) and a
// reload (SIGHUP): an armed shutdown, an announced alarm, a waiting e-mail, a TCP client.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "e2e/DebugProgram.h"
#include "support/EventLogFile.h"
#include "support/SilentServer.h"
#include "support/SmtpSink.h"
#include "support/TcpClient.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

class RestartTest : public ::testing::Test {
 protected:
  RestartTest() {
    Dir().Write("shutdown", "#!/bin/sh\necho \"$@\" >> '" + Dir().File("shutdown.log") + "'\n");
    chmod(Dir().File("shutdown").c_str(), 0755);
    Dir().Write("boot_id", "boot-1\n");
  }

  const test::TTempDir& Dir() const { return FProgram.Dir; }
  void Start(const std::string& config) {
    ASSERT_TRUE(FProgram.Start(config, {{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", Dir().File("shutdown")},
                                        {"DUZEZEVOVIVO_BOOT_ID_FILE", Dir().File("boot_id")}}));
  }
  bool StateHolds(const std::string& text) {
    return test::WaitUntil(
        [&] { return Dir().Read("work/duzezevovivo.state").find(text) != std::string::npos; }, 5s);
  }
  bool EventLogged(const std::string& text) {
    for (const std::string& entry :
         test::EventTexts(test::ReadEventLog(Dir().File("events.log")), "Deredoru"))
      if (entry.find(text) != std::string::npos) return true;
    return false;
  }
  void Kill() {
    FProgram.Program->Signal(SIGKILL);
    FProgram.Program->Wait(5s);
    FProgram.Program.reset();
  }
  std::string Stdout() const { return FProgram.Program->Stdout(); }

  test::TDebugProgram FProgram;
};

// The wait is 3 s; the program is killed once the state file holds the armed shutdown.
TEST_F(RestartTest, ArmedShutdownSurvivesAKillInTheSameBootOnly) {
  const std::string config =
      "<config><SHUTDOWN type=\"DEFAULT\" value=\"9\"/><KELVO comport=\"1\" caption=\"Room\">"
      "<CONDITION><off value=\"100\" wait=\"0.05\"/></CONDITION></KELVO></config>";
  for (const bool sameBoot : {true, false}) {
    SCOPED_TRACE(sameBoot ? "same boot" : "another boot");
    Dir().Write("shutdown.log", "");
    Dir().Write("boot_id", "boot-1\n");
    Start(config);
    FProgram.Pty.Write("*B1E1+020.0C\r");
    FProgram.Pty.Write("*B1E1+101.0C\r");
    const auto due = std::chrono::steady_clock::now() + 3s;
    ASSERT_TRUE(StateHolds("<shutdown ")) << Stdout();
    Kill();
    if (!sameBoot) Dir().Write("boot_id", "boot-2\n");
    Start(config);
    if (sameBoot) {
      ASSERT_TRUE(test::WaitUntil([&] { return !Dir().Read("shutdown.log").empty(); }, 10s)) << Stdout();
      const auto ran = std::chrono::steady_clock::now();
      EXPECT_GT(ran, due - 500ms);
      EXPECT_LT(ran, due + 2s);
      EXPECT_EQ(Dir().Read("shutdown.log"), "9\n");
    } else {
      std::this_thread::sleep_until(due + 2s);
      EXPECT_EQ(Dir().Read("shutdown.log"), "");
      EXPECT_TRUE(EventLogged("armed shutdown(s) of the previous run discarded"));
    }
    FProgram.Stop();
  }
}

// Without the saved state the first evaluated reading after the restart would send 55.5 again, ahead of 66.6.
TEST_F(RestartTest, AnnouncedAlarmIsNotSentAgainAfterARestart) {
  test::TSmtpSink sink;
  const std::string config =
      "<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(sink.Port()) +
      "\" from=\"alarm@example.com\"/><KELVO comport=\"1\" caption=\"Room\">"
      "<CONDITION><max value=\"50\">Room at %value% C</max>"
      "<email address=\"ops@example.com\" message=\"max\"/></CONDITION></KELVO></config>";
  Start(config);
  FProgram.Pty.Write("*B1E1+020.0C\r");
  FProgram.Pty.Write("*B1E1+055.5C\r");
  ASSERT_TRUE(sink.WaitForMails(1, 10s)) << Stdout();
  FProgram.Stop();
  Start(config);
  for (const char* line : {"+055.5C", "+055.5C", "+020.0C", "+066.6C"})
    FProgram.Pty.Write(std::string("*B1E1") + line + "\r");
  ASSERT_TRUE(sink.WaitForMails(2, 10s)) << Stdout();
  EXPECT_EQ(sink.Mails()[1].Body(), std::vector<std::string>{"Room at  66.6 C"});
}

// The first run's server takes the connection and never answers: the e-mail is still on its way at
// the stop.
TEST_F(RestartTest, EmailWaitingAtTheStopIsSentByTheNextRun) {
  test::TSilentServer silent;
  test::TSmtpSink sink;
  const auto config = [](int port) {
    return "<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(port) +
           "\" from=\"alarm@example.com\"/><KELVO comport=\"1\" caption=\"Room\">"
           "<CONDITION><max value=\"50\">Room at %value% C</max>"
           "<email address=\"ops@example.com\" message=\"max\"/></CONDITION></KELVO></config>";
  };
  Start(config(silent.Port()));
  FProgram.Pty.Write("*B1E1+020.0C\r");
  FProgram.Pty.Write("*B1E1+055.5C\r");
  ASSERT_TRUE(StateHolds("<email ")) << Stdout();
  FProgram.Stop();
  Start(config(sink.Port()));
  ASSERT_TRUE(sink.WaitForMails(1, 10s)) << Stdout();
  EXPECT_EQ(sink.Mails()[0].Body(), std::vector<std::string>{"Room at  55.5 C"});
}

TEST_F(RestartTest, ReloadKeepsTheTcpClientOfAnUnchangedThermometerAndABrokenFileChangesNothing) {
  const std::string room =
      "<KELVO comport=\"1\" caption=\"Room\"><DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/></KELVO>";
  Start("<config>" + room + "</config>");
  const std::string created = "TcpServer created - port:";
  const std::string out = Stdout();
  ASSERT_NE(out.find(created), std::string::npos) << out;
  test::TTcpClient client(static_cast<uint16_t>(std::atoi(out.c_str() + out.find(created) + created.size())));
  ASSERT_TRUE(FProgram.Program->WaitForOutput("accept", 5s)) << Stdout();
  const auto received = [&](const std::string& data) {
    return test::WaitUntil(
               [&] {
                 client.Poll();
                 return client.Data.size() >= data.size();
               },
               5s) &&
           client.Data == data;
  };

  FProgram.Pty.Write("*B1E1+020.0C\r");
  ASSERT_TRUE(received("+020.0C\r"));
  Dir().Write("config.xml", "<config>" + room + "<KELVO comport=\"2\" caption=\"Hall\"/></config>");
  FProgram.Program->Signal(SIGHUP);
  FProgram.Pty.Write("*B1E1+020.1C\r");  // while the reload runs
  ASSERT_TRUE(FProgram.WaitCreated("Hall"));
  ASSERT_TRUE(FProgram.Program->WaitForOutput("KelvoPlatform reloaded", 5s)) << Stdout();
  FProgram.Pty.Write("*B1E1+020.2C\r");
  EXPECT_TRUE(received("+020.0C\r+020.1C\r+020.2C\r")) << client.Data;

  Dir().Write("config.xml", "<config><KELVO comport=\"1\"");
  FProgram.Program->Signal(SIGHUP);
  ASSERT_TRUE(FProgram.Program->WaitForOutput("KelvoPlatform not reloaded", 5s)) << Stdout();
  EXPECT_TRUE(EventLogged("Configuration not reloaded, the running one stays"));
  FProgram.Pty.Write("*B1E1+020.3C\r");
  EXPECT_TRUE(received("+020.0C\r+020.1C\r+020.2C\r+020.3C\r")) << client.Data;
  EXPECT_FALSE(client.Ended);
}

}  // namespace
}  // namespace duz
