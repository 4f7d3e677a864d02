// The alarms of the real program in -debug mode: a thermometer on a pseudo-terminal crosses its
// limits; the e-mail reaches a local SMTP server, "net" and the shutdown command are scripts that
// record their arguments. State changes act on the reading itself, so no test waits for a tick.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "support/Env.h"
#include "support/Process.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/SmtpSink.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

class AlarmTest : public ::testing::Test {
 protected:
  AlarmTest() {
    std::filesystem::create_directories(FDir.File("bin"));
    std::filesystem::create_directories(FDir.File("work"));
    Script("bin/net", "for a in \"$@\"; do printf '<%s>' \"$a\"; done >> '" + FDir.File("net.log") + "'\n");
    Script("shutdown", "echo \"$@\" >> '" + FDir.File("shutdown.log") + "'\n");
    test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {{1, FPty.SlavePath()}});
  }

  void Script(const std::string& name, const std::string& body) {
    FDir.Write(name, "#!/bin/sh\n" + body);
    chmod(FDir.File(name).c_str(), 0755);
  }

  // Starts the program on a configuration with one thermometer (COM1, caption Room) holding the
  // given condition, and waits until the thermometer has been created.
  void Start(const std::string& condition, const std::string& rootExtra = "") {
    FDir.Write("config.xml", "<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(FSink.Port()) +
                                 "\" from=\"alarm@example.com\"/>" + rootExtra +
                                 "<KELVO comport=\"1\" caption=\"Room\">" + condition + "</KELVO></config>");
    FProgram = std::make_unique<test::TChildProcess>(
        std::vector<std::string>{test::BinPath("duzezevovivo"), "-debug"},
        std::map<std::string, std::string>{{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")},
                                           {"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")},
                                           {"DUZEZEVOVIVO_SHUTDOWN_COMMAND", FDir.File("shutdown")},
                                           {"PATH", FDir.File("bin") + ":" + std::getenv("PATH")},
                                           {"DISPLAY", ""},
                                           {"WAYLAND_DISPLAY", ""}},
        FDir.File("work"));
    ASSERT_TRUE(FProgram->WaitForOutput("[Room] Kelvo created", 10s))
        << FProgram->Stdout() << FProgram->Stderr();
  }

  void TearDown() override {
    if (!FProgram) return;
    FProgram->Signal(SIGTERM);
    EXPECT_EQ(FProgram->Wait(10s), 0) << FProgram->Stderr();
  }

  test::TTempDir FDir;
  test::TSmtpSink FSink;
  test::TPty FPty;
  std::unique_ptr<test::TChildProcess> FProgram;
};

TEST_F(AlarmTest, ReadingAboveMaxSendsTheEmailAndTheNetMessage) {
  Start(
      "<CONDITION><max value=\"50\">Room at %value% C</max>"
      "<email address=\"ops@example.com\" message=\"max\"/>"
      "<netmessage address=\"PC 1\" message=\"max\"/></CONDITION>");
  FPty.Write("*B1E1+020.0C\r");  // the first line is never evaluated
  FPty.Write("*B1E1+055.5C\r");
  ASSERT_TRUE(FSink.WaitForMails(1, 10s)) << FProgram->Stdout();
  const test::TSmtpSession mail = FSink.Mails()[0];
  EXPECT_EQ(mail.Body(), std::vector<std::string>{"Room at  55.5 C"});
  EXPECT_NE(std::find(mail.Data.begin(), mail.Data.end(), "Subject: Room"), mail.Data.end());
  ASSERT_TRUE(test::WaitUntil([&] { return !FDir.Read("net.log").empty(); }, 5s));
  EXPECT_EQ(FDir.Read("net.log"), "<send><PC 1><Room at  55.5 C>");
}

TEST_F(AlarmTest, ReadingAboveOffRunsTheShutdownCommandAfterTheWait) {
  Start("<CONDITION><off value=\"100\" wait=\"0.02\"/></CONDITION>",
        "<SHUTDOWN type=\"DEFAULT\" value=\"9\"/>");
  FPty.Write("*B1E1+020.0C\r");
  FPty.Write("*B1E1+101.0C\r");
  const auto entered = std::chrono::steady_clock::now();
  ASSERT_TRUE(test::WaitUntil([&] { return !FDir.Read("shutdown.log").empty(); }, 10s)) << FProgram->Stdout();
  EXPECT_GE(std::chrono::steady_clock::now() - entered, 1100ms) << "the wait is 0.02 minutes";
  EXPECT_EQ(FDir.Read("shutdown.log"), "9\n");
}

}  // namespace
}  // namespace duz
