#pragma once
// Shared ground of the condition and action item tests: a thermometer subservice on a
// pseudo-terminal built from a configuration with an SMTP element pointing at a local SMTP sink,
// so that every e-mail action is seen as a received mail once the platform's outbox has sent it. The clock
// stands still; the platform's own tick thread is kept away and the test ticks the subservice itself. The
// shutdown command is a script that records its arguments.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/RegionalSettings.h"
#include "core/Condition.h"
#include "core/Kelvo.h"
#include "core/KelvoChild.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"
#include "support/Env.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/SmtpSink.h"
#include "support/TempDir.h"

namespace duz::test {

// Counts the lines the subservice handed on: the condition (created first) has evaluated a line
// once it has been published here.
class TLineCounter : public TKelvoChild {
 public:
  using TKelvoChild::TKelvoChild;
  void Publish(const std::string&) override { ++Lines; }
  int Lines = 0;
};

class TConditionFixture : public ::testing::Test {
 protected:
  TConditionFixture() {
    FDir.Write("config.xml", "<config/>");
    WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {{1, FPty.SlavePath()}});
    FDir.Write("shutdown", "#!/bin/sh\necho \"$@\" >> '" + FDir.File("shutdown.log") + "'\n");
    chmod(FDir.File("shutdown").c_str(), 0755);
    TRegionalSettings settings;
    settings.DecimalSeparator = '.';
    SetRegionalSettings(settings);
    TestClock::Set(EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 0));
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo);
    FNoPlatformTicks = std::unique_lock(FPlatform->TickLock());
  }

  ~TConditionFixture() override {
    if (FLogging) StopLog();
    if (FNoPlatformTicks) FNoPlatformTicks.unlock();
    FPlatform.reset();
    TestClock::Reset();
    SetRegionalSettings(FOldSettings);
  }

  // A subservice captioned Room on the pseudo-terminal with the given children, after its first
  // line (20.0, which no condition evaluates) has been handled.
  // rootExtra goes beside the KELVO element, smtpExtra into the SMTP element.
  TKelvo* Make(const std::string& children, const std::string& rootExtra = "",
               const std::string& smtpExtra = "") {
    std::string xml = "<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(FSmtpPort) +
                      "\" from=\"alarm@example.com\" " + smtpExtra + "/>" + rootExtra +
                      "<KELVO comport=\"1\" caption=\"Room\">" + children + "</KELVO></config>";
    auto& document = FDocuments.emplace_back(std::make_unique<pugi::xml_document>());
    EXPECT_TRUE(document->load_string(xml.c_str())) << xml;
    auto* kelvo = new TKelvo(*FPlatform, document->document_element().child("KELVO"));
    FCounter = new TLineCounter(*kelvo);
    Feed("+020.0C");
    return kelvo;
  }

  // One thermometer line (the carriage return is added), handled before this returns.
  void Feed(const std::string& line) {
    const int before = FCounter->Lines;
    FPty.Write(line + "\r");
    ASSERT_TRUE(FLoop.RunUntil([&] { return FCounter->Lines > before; }, std::chrono::seconds(3))) << line;
  }

  static TCondition& ConditionOf(TKelvo* kelvo, int index = 0) {
    for (int i = 0; i < kelvo->ComponentCount(); ++i)
      if (auto* condition = dynamic_cast<TCondition*>(kelvo->Component(i)))
        if (index-- == 0) return *condition;
    throw std::logic_error("no such condition");
  }

  // Log lines from here on go to a log file in the temporary directory and to Logged().
  void StartLog() {
    FOldDirectory = std::filesystem::current_path();
    std::filesystem::current_path(FDir.Path());
    SetLogViewHook([this](const std::string& text, TDateTime) {
      std::lock_guard lock(FLogLock);
      FLogged.push_back(text);
    });
    StartLogger();
    FLogging = true;
  }
  // Stops the log writer after it has written every line so far; returns those lines.
  std::vector<std::string> StopLog() {
    StopLogger();
    SetLogViewHook({});
    std::filesystem::current_path(FOldDirectory);
    FLogging = false;
    std::lock_guard lock(FLogLock);
    return FLogged;
  }

  // Waits until the e-mail outbox has nothing left to send.
  void DrainMail() const {
    EXPECT_TRUE(WaitUntil([&] { return FPlatform->MailOutbox().Pending() == 0; }, std::chrono::seconds(10)));
  }
  // The body of every e-mail sent, once everything posted has been sent.
  std::vector<std::string> Sent() const {
    DrainMail();
    return FSink.Bodies();
  }
  std::string ShutdownLog() const { return FDir.Read("shutdown.log"); }

  TTempDir FDir;
  TScopedEnv FRegistry{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")};
  TScopedEnv FEvents{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
  TScopedEnv FShutdown{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", FDir.File("shutdown")};
  TRegionalSettings FOldSettings = RegionalSettings();
  TSmtpSink FSink;
  int FSmtpPort = FSink.Port();  // the port of the SMTP element
  TPty FPty;
  TEventLoop FLoop;
  std::vector<std::unique_ptr<pugi::xml_document>> FDocuments;
  std::unique_ptr<TKelvoPlatform> FPlatform;
  std::unique_lock<std::mutex> FNoPlatformTicks;
  TLineCounter* FCounter = nullptr;
  bool FLogging = false;
  std::filesystem::path FOldDirectory;
  std::mutex FLogLock;
  std::vector<std::string> FLogged;  // guarded by FLogLock
};

}  // namespace duz::test
