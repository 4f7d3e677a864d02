#pragma once
// Shared ground of the interval item tests: thermometer subservices on the rig's pseudo-terminal,
// built from an XML element, with the clock standing still at a known moment and known regional
// settings. The test itself is the tick: the platform's own tick thread is kept away.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/IntervalItem.h"
#include "support/LogCapture.h"
#include "support/ThermometerRig.h"

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

class TIntervalFixture : public ::testing::Test, protected TThermometerRig {
 protected:
  TIntervalFixture() {
    SetRegionalSettings(DottedDateSettings('.'));
    TestClock::Set(FixtureStart());
    CreatePlatform(true);
  }

  ~TIntervalFixture() override {
    for (auto it = FKelvos.rbegin(); it != FKelvos.rend(); ++it) delete *it;
  }

  // Both clocks at the given number of seconds after FixtureStart(), as if that time had passed.
  void ClockAt(double seconds) {
    TestClock::Advance(seconds - FClockSeconds);
    FClockSeconds = seconds;
  }

  // A subservice on COM1 (the pseudo-terminal) from a KELVO element with its children.
  TKelvo* Make(const std::string& xml) { return FKelvos.emplace_back(new TKelvo(*FPlatform, Parse(xml))); }

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

  std::vector<TKelvo*> FKelvos;
  double FClockSeconds = 0;
};

}  // namespace duz::test
