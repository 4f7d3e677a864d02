#include "service/ServiceMonitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "base/Clock.h"
#include "base/Exception.h"
#include "base/RegionalSettings.h"
#include "core/Kelvo.h"
#include "core/KelvoChild.h"
#include "service/Deredoru.h"
#include "support/Env.h"
#include "support/NotifySocket.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

TKelvoSnapshot Thermometer(std::string caption, std::optional<float> temperature, bool connected,
                           std::vector<TConditionState> states = {}) {
  TKelvoSnapshot status;
  status.Caption = std::move(caption);
  status.Temperature = temperature;
  status.Connected = connected;
  for (TConditionState state : states) status.Conditions.push_back({state, NAN, NAN, NAN});
  return status;
}

size_t Utf8Characters(const std::string& text) {
  size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

TEST(StatusLineTest, NamesEveryThermometerWithItsReadingAndStates) {
  struct TCase {
    const char* Label;
    std::vector<TKelvoSnapshot> Thermometers;
    std::string Line;
  };
  const TCase cases[] = {
      {"none", {}, "0 thermometers"},
      {"the example",
       {Thermometer("Server room", 23.5f, true, {stNormal}), Thermometer("Rack 2", 41.0f, true, {stMax}),
        Thermometer("UPS", 20.0f, false, {stError})},
       "3 thermometers: Server room 23.5 °C normal; Rack 2 41.0 °C max; UPS lost"},
      {"one, without conditions", {Thermometer("Hall", -3.25f, true)}, "1 thermometer: Hall -3.3 °C"},
      {"connected before a number", {Thermometer("Hall", std::nullopt, true)}, "1 thermometer: Hall lost"},
      {"conditions not yet evaluated are left out",
       {Thermometer("Hall", 21.0f, true, {stNone, stMin, stOff})},
       "1 thermometer: Hall 21.0 °C min/off"},
      {"a line break in a caption cannot start another notification",
       {Thermometer("Hall\nREADY=1", 21.0f, true)},
       "1 thermometer: Hall READY=1 21.0 °C"},
  };
  for (const TCase& c : cases) {
    TPlatformSnapshot snapshot;
    snapshot.Thermometers = c.Thermometers;
    EXPECT_EQ(FormatStatusLine(snapshot), c.Line) << c.Label;
  }
}

TEST(StatusLineTest, TemperaturesTakeTheRegionalDecimalSeparator) {
  const TRegionalSettings saved = RegionalSettings();
  TRegionalSettings comma = saved;
  comma.DecimalSeparator = ',';
  SetRegionalSettings(comma);
  TPlatformSnapshot snapshot;
  snapshot.Thermometers = {Thermometer("Hall", 23.5f, true)};
  EXPECT_EQ(FormatStatusLine(snapshot), "1 thermometer: Hall 23,5 °C");
  SetRegionalSettings(saved);
}

// Characters, not bytes: a cut never splits a character, and a line of exactly the limit stays whole.
TEST(StatusLineTest, LongLinesAreCutAtTheLimitWithAnEllipsis) {
  for (const char* caption : {"Místnost č. 1", "Room 1"}) {
    TPlatformSnapshot snapshot;
    for (int i = 0; i < 30; ++i) snapshot.Thermometers.push_back(Thermometer(caption, 20.0f, true));
    const std::string line = FormatStatusLine(snapshot);
    EXPECT_EQ(Utf8Characters(line), MaxStatusChars) << caption;
    EXPECT_TRUE(line.ends_with("…")) << line;
    EXPECT_EQ(line.rfind("30 thermometers: ", 0), 0u) << line;
  }
  TPlatformSnapshot exact;
  const std::string head = "1 thermometer: ", tail = " 20.0 °C";
  exact.Thermometers = {
      Thermometer(std::string(MaxStatusChars - head.size() - Utf8Characters(tail), 'x'), 20.0f, true)};
  EXPECT_EQ(Utf8Characters(FormatStatusLine(exact)), MaxStatusChars);
  EXPECT_TRUE(FormatStatusLine(exact).ends_with(tail));
}

// A thermometer's child whose tick raises on demand, which ends the platform's tick loop for good.
class TTickingChild : public TKelvoChild {
 public:
  TTickingChild(TKelvo& subservice, std::atomic<bool>& fail, std::atomic<int>& ticks)
      : TKelvoChild(subservice), FFail(fail), FTicks(ticks) {}
  void Tick() override {
    ++FTicks;
    if (FFail) throw Exception("tick failed");
  }

 private:
  std::atomic<bool>& FFail;
  std::atomic<int>& FTicks;
};

class WatchdogTest : public ::testing::Test {
 protected:
  WatchdogTest() {
    Dir.Write("config.xml", R"(<KELVOS><KELVO comport="1"/></KELVOS>)");
    test::WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"),
                            {{1, Dir.File("no-such-device")}});
  }
  ~WatchdogTest() override { TestClock::Reset(); }

  // Polls the monitor as the main thread does until WATCHDOG=1 arrives; false after the time-out.
  bool KeptAlive(TServiceMonitor& monitor, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      monitor.Poll();
      if (const auto message = Manager.Receive(20ms); message && *message == "WATCHDOG=1") return true;
    }
    return false;
  }

  test::TTempDir Dir;
  test::TNotifySocket Manager{Dir.File("notify")};
  test::TScopedEnv Notify{"NOTIFY_SOCKET", Manager.Path()};
  test::TScopedEnv Watchdog{"WATCHDOG_USEC", "300000"};
  test::TScopedEnv EventLog{"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")};
  test::TScopedEnv Registry{"DUZEZEVOVIVO_REGISTRY", Dir.File("registry.reg")};
};

// Both clocks stand still, so that only the test's steps age the progress marks.
TEST_F(WatchdogTest, KeepAliveGoesOnlyWhileTheTickLoopGoesRound) {
  struct TCase {
    const char* Label;
    bool TickFails;
    bool KeptAlive;
  };
  for (const TCase& c : {TCase{"ticking", false, true}, TCase{"tick loop ended", true, false}}) {
    TestClock::Set(Now());
    std::atomic<bool> fail{c.TickFails};
    std::atomic<int> ticks{0};
    TDeredoru module({}, [&](TKelvoPlatform& owner, pugi::xml_node element) {
      new TTickingChild(*new TKelvo(owner, element), fail, ticks);
    });
    ASSERT_EQ(module.Start(), 0);
    ASSERT_TRUE(test::WaitUntil([&] { return module.Running(); }, 5s)) << c.Label;
    TServiceMonitor monitor([&] { return module.WatchAlive(); }, [] { return nullptr; });
    EXPECT_TRUE(KeptAlive(monitor, 3s)) << c.Label << ": before the first tick";

    TestClock::Advance(31);  // the first tick is due
    ASSERT_TRUE(test::WaitUntil([&] { return ticks > 0; }, 5s)) << c.Label;
    TestClock::Advance(MaxWatchSilence.count() + 1);
    while (Manager.Receive(300ms)) {
    }
    EXPECT_EQ(KeptAlive(monitor, 3s), c.KeptAlive) << c.Label;

    module.Control(TServiceControl::Stop);
    EXPECT_EQ(module.Finish(), 0) << c.Label;
    TestClock::Reset();
  }
}

}  // namespace
}  // namespace duz
