#pragma once
// Shared ground of the condition and action item tests: a thermometer subservice on the rig's
// pseudo-terminal built from a configuration with an SMTP element pointing at a local SMTP sink,
// so that every e-mail action is seen as a received mail once the platform's outbox has sent it. The clock
// stands still; the platform's own tick thread is kept away and the test ticks the subservice itself.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "core/Condition.h"
#include "core/KelvoChild.h"
#include "support/LogCapture.h"
#include "support/SmtpSink.h"
#include "support/ThermometerRig.h"

namespace duz::test {

// Counts the lines the subservice handed on: the condition (created first) has evaluated a line
// once it has been published here.
class TLineCounter : public TKelvoChild {
 public:
  using TKelvoChild::TKelvoChild;
  void Publish(const std::string&) override { ++Lines; }
  int Lines = 0;
};

class TConditionFixture : public ::testing::Test, protected TThermometerRig {
 protected:
  TConditionFixture() {
    TRegionalSettings settings;
    settings.DecimalSeparator = '.';
    SetRegionalSettings(settings);
    TestClock::Set(EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 0));
    CreatePlatform(true);
  }

  ~TConditionFixture() override {
    FLog.reset();
    FreePlatform();  // before the SMTP sink it may still be sending to
  }

  // A subservice captioned Room on the pseudo-terminal with the given children, after its first
  // line (20.0, which no condition evaluates) has been handled.
  // rootExtra goes beside the KELVO element, smtpExtra into the SMTP element.
  TKelvo* Make(const std::string& children, const std::string& rootExtra = "",
               const std::string& smtpExtra = "") {
    std::string xml = "<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(FSmtpPort) +
                      "\" from=\"alarm@example.com\" " + smtpExtra + "/>" + rootExtra +
                      "<KELVO comport=\"1\" caption=\"Room\">" + children + "</KELVO></config>";
    auto* kelvo = new TKelvo(*FPlatform, Parse(xml).child("KELVO"));
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

  // Log lines from here on go to a log file in a temporary directory and are recorded; DebugMode
  // stays as the test sets it.
  void StartLog() { FLog.emplace(false); }
  // Stops the log writer after it has written every line so far; returns those lines.
  std::vector<std::string> StopLog() {
    std::vector<std::string> lines = FLog->Lines("");
    FLog.reset();
    return lines;
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

  TSmtpSink FSink;
  int FSmtpPort = FSink.Port();  // the port of the SMTP element
  TLineCounter* FCounter = nullptr;
  std::optional<TLogCapture> FLog;
};

}  // namespace duz::test
