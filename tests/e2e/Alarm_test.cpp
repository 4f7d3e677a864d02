// The alarms of the real program in -debug mode: a thermometer on a pseudo-terminal crosses its
// limits; the e-mail reaches a local SMTP server, "net" and the shutdown command are scripts that
// record their arguments. State changes act on the reading itself, so no test waits for a tick.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "e2e/DebugProgram.h"
#include "support/SmtpSink.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

class AlarmTest : public ::testing::Test {
 protected:
  AlarmTest() {
    std::filesystem::create_directories(Dir().File("bin"));
    Script("bin/net", "for a in \"$@\"; do printf '<%s>' \"$a\"; done >> '" + Dir().File("net.log") + "'\n");
    // Also what the started program finds of the service's signal settings (in bash: dash unblocks
    // every signal when it starts; grep shows what bash started with).
    Script("shutdown",
           "echo \"$@\" >> '" + Dir().File("shutdown.log") +
               "'\nexec grep -E '^Sig(Blk|Ign)' /proc/self/status > '" + Dir().File("signals") + "'\n",
           "/bin/bash");
  }

  const test::TTempDir& Dir() const { return FProgram.Dir; }
  void Script(const std::string& name, const std::string& body, const std::string& shell = "/bin/sh") {
    Dir().Write(name, "#!" + shell + "\n" + body);
    chmod(Dir().File(name).c_str(), 0755);
  }

  // Starts the program on a configuration with one thermometer (COM1, caption Room) holding the
  // given condition, and waits until the thermometer has been created.
  void Start(const std::string& condition, const std::string& rootExtra = "") {
    ASSERT_TRUE(FProgram.Start("<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(FSink.Port()) +
                                   "\" from=\"alarm@example.com\"/>" + rootExtra +
                                   "<KELVO comport=\"1\" caption=\"Room\">" + condition + "</KELVO></config>",
                               {{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", Dir().File("shutdown")},
                                {"PATH", Dir().File("bin") + ":" + std::getenv("PATH")}}));
  }
  std::string Stdout() const { return FProgram.Program->Stdout(); }

  test::TSmtpSink FSink;
  test::TDebugProgram FProgram;
};

TEST_F(AlarmTest, ProgramIgnoresSigpipe) {
  Start("");
  const std::string status = test::ReadFile("/proc/" + std::to_string(FProgram.Program->Pid()) + "/status");
  EXPECT_TRUE(test::SignalMasks(status).Ignored & (1u << (SIGPIPE - 1))) << status;
}

TEST_F(AlarmTest, ReadingAboveMaxSendsTheEmailAndTheNetMessage) {
  Start(
      "<CONDITION><max value=\"50\">Room at %value% C</max>"
      "<email address=\"ops@example.com\" message=\"max\"/>"
      "<netmessage address=\"PC 1\" message=\"max\"/></CONDITION>");
  FProgram.Pty.Write("*B1E1+020.0C\r");  // the first line is never evaluated
  FProgram.Pty.Write("*B1E1+055.5C\r");
  ASSERT_TRUE(FSink.WaitForMails(1, 10s)) << Stdout();
  const test::TSmtpSession mail = FSink.Mails()[0];
  EXPECT_EQ(mail.Body(), std::vector<std::string>{"Room at  55.5 C"});
  EXPECT_NE(std::find(mail.Data.begin(), mail.Data.end(), "Subject: Room"), mail.Data.end());
  ASSERT_TRUE(test::WaitUntil([&] { return !Dir().Read("net.log").empty(); }, 5s));
  EXPECT_EQ(Dir().Read("net.log"), "<send><PC 1><Room at  55.5 C>");
}

TEST_F(AlarmTest, ReadingAboveOffRunsTheShutdownCommandAfterTheWait) {
  Start("<CONDITION><off value=\"100\" wait=\"0.02\"/></CONDITION>",
        "<SHUTDOWN type=\"DEFAULT\" value=\"9\"/>");
  FProgram.Pty.Write("*B1E1+020.0C\r");
  FProgram.Pty.Write("*B1E1+101.0C\r");
  const auto entered = std::chrono::steady_clock::now();
  ASSERT_TRUE(test::WaitUntil([&] { return !Dir().Read("shutdown.log").empty(); }, 10s)) << Stdout();
  EXPECT_GE(std::chrono::steady_clock::now() - entered, 1100ms) << "the wait is 0.02 minutes";
  EXPECT_EQ(Dir().Read("shutdown.log"), "9\n");
  ASSERT_TRUE(test::WaitUntil([&] { return !Dir().Read("signals").empty(); }, 5s));
  const test::TSignalMasks started = test::SignalMasks(Dir().Read("signals"));
  EXPECT_EQ(started.Blocked, 0u) << "the shutdown command inherited the blocked stop signals";
  EXPECT_EQ(started.Ignored, 0u) << "the shutdown command inherited ignored signals";
}

// A probe that sends 85.0 once after a power-on reset: with confirm the single line arms nothing.
TEST_F(AlarmTest, SingleSpikeAboveOffShutsDownOnlyWithoutConfirm) {
  for (const bool confirm : {true, false}) {
    SCOPED_TRACE(confirm ? "confirm 2" : "without confirm");
    Start(std::string("<CONDITION><off value=\"60\" wait=\"0.02\"") + (confirm ? " confirm=\"2\"" : "") +
              ">off</off><email address=\"ops@example.com\" message=\"off\"/></CONDITION>",
          "<SHUTDOWN type=\"DEFAULT\" value=\"9\"/>");
    for (const char* line : {"+023.5C", "+023.5C", "+085.0C", "+023.4C"})
      FProgram.Pty.Write(std::string("*B1E1") + line + "\r");
    if (confirm) {
      ASSERT_TRUE(FProgram.Program->WaitForOutput("[Room] parse temperature: 23.40", 10s)) << Stdout();
      std::this_thread::sleep_for(1500ms);  // past the wait of 1.2 s
      EXPECT_EQ(Dir().Read("shutdown.log"), "");
      EXPECT_TRUE(FSink.Mails().empty());
    } else {
      EXPECT_TRUE(test::WaitUntil([&] { return !Dir().Read("shutdown.log").empty(); }, 10s)) << Stdout();
      ASSERT_TRUE(FSink.WaitForMails(1, 10s));
      EXPECT_EQ(FSink.Mails()[0].Body(), std::vector<std::string>{"off"});
    }
    FProgram.Stop();
  }
}

}  // namespace
}  // namespace duz
