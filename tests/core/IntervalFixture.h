#pragma once
// Shared ground of the interval item tests: thermometer subservices on a pseudo-terminal, built
// from an XML element, with the clock standing still at a known moment and known regional
// settings. The test itself is the tick: the platform's own tick thread is kept away.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/RegionalSettings.h"
#include "core/IntervalItem.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"
#include "support/Env.h"
#include "support/LogCapture.h"
#include "support/Pty.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz::test {

// 2026-12-07 14:05:18: the first run of an item made now falls on 14:05:33.
inline TDateTime FixtureStart() { return EncodeDate(2026, 12, 7) + EncodeTime(14, 5, 18, 0); }

// Dates as 07.12.2026, times as 14:05:33, and the given decimal separator.
inline TRegionalSettings DottedDateSettings(char decimalSeparator) {
  TRegionalSettings settings;
  settings.DecimalSeparator = decimalSeparator;
  settings.DateSeparator = '.';
  settings.TimeSeparator = ':';
  settings.ShortDateFormat = "dd/mm/yyyy";
  settings.LongTimeFormat = "hh:nn:ss";
  return settings;
}

class TIntervalFixture : public ::testing::Test {
 protected:
  TIntervalFixture() {
    FDir.Write("config.xml", "<config/>");
    test::WriteRegistryFile(FDir.File("registry.reg"), FDir.File("config.xml"), {{1, FPty.SlavePath()}});
    SetRegionalSettings(DottedDateSettings('.'));
    TestClock::Set(FixtureStart());
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, CreateKelvo);
    FNoPlatformTicks = std::unique_lock(FPlatform->TickLock());
  }

  ~TIntervalFixture() override {
    for (auto it = FKelvos.rbegin(); it != FKelvos.rend(); ++it) delete *it;
    FNoPlatformTicks.unlock();
    FPlatform.reset();
    TestClock::Reset();
    SetRegionalSettings(FOldSettings);
  }

  // Both clocks at the given number of seconds after FixtureStart(), as if that time had passed.
  void ClockAt(double seconds) {
    TestClock::Advance(seconds - FClockSeconds);
    FClockSeconds = seconds;
  }

  // A subservice on COM1 (the pseudo-terminal) from a KELVO element with its children.
  TKelvo* Make(const std::string& xml) {
    auto& document = FDocuments.emplace_back(std::make_unique<pugi::xml_document>());
    EXPECT_TRUE(document->load_string(xml.c_str())) << xml;
    return FKelvos.emplace_back(new TKelvo(*FPlatform, document->document_element()));
  }

  // Frees a subservice before its time, so that the next one can have the port.
  void Remove(TKelvo* kelvo) {
    std::erase(FKelvos, kelvo);
    delete kelvo;
  }

  // The subservice's first interval item.
  template <typename TItem = TIntervalItem>
  static TItem* Item(TKelvo& kelvo) {
    for (int i = 0; i < kelvo.ComponentCount(); ++i)
      if (auto* item = dynamic_cast<TItem*>(kelvo.Component(i))) return item;
    ADD_FAILURE() << "no such item";
    return nullptr;
  }

  // The thermometer sends a reading; returns when the subservice has taken it.
  void Receive(TKelvo& kelvo, float temperature) {
    char line[32];
    std::snprintf(line, sizeof line, "*B1E1%+07.2fC\r", temperature);
    FPty.Write(line);
    ASSERT_TRUE(FLoop.RunUntil([&] { return kelvo.IsConnected() && kelvo.Temperature() == temperature; },
                               std::chrono::seconds(3)));
  }

  TTempDir FDir;
  TScopedEnv FRegistry{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")};
  TScopedEnv FEvents{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
  TScopedEnv FShutdown{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "/bin/true"};
  TPty FPty;
  TEventLoop FLoop;
  TRegionalSettings FOldSettings = RegionalSettings();
  std::vector<std::unique_ptr<pugi::xml_document>> FDocuments;
  std::unique_ptr<TKelvoPlatform> FPlatform;
  std::vector<TKelvo*> FKelvos;
  std::unique_lock<std::mutex> FNoPlatformTicks;
  double FClockSeconds = 0;
};

}  // namespace duz::test
