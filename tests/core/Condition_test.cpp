#include "core/Condition.h"

#include <fmt/format.h>
#include <fmt/ranges.h>
#include <gtest/gtest.h>

#include <sstream>

#include "base/DebugMode.h"
#include "base/Exception.h"
#include "core/ConditionFixture.h"
#include "core/Shutdown.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

struct TClassRow {
  const char* Label;
  float Temperature, Lower, Upper, Shutdown;
  TConditionState Expected;
};

TEST(ConditionClassifyTest, StateOfAReading) {
  const TClassRow rows[] = {
      {"default limits, inside", 20.0f, -55, 50, 100, stNormal},
      {"default limits, above max", 50.1f, -55, 50, 100, stMax},
      {"above off beats above max", 100.5f, -55, 50, 100, stOff},
      {"default limits, below min", -60.0f, -55, 50, 100, stMin},
      {"exactly at the lower limit", -55.0f, -55, 50, 100, stNormal},
      {"exactly at the upper limit", 50.0f, -55, 50, 100, stNormal},
      {"exactly at the shutdown limit", 100.0f, -55, 50, 100, stMax},
      {"lower above upper, between them", 25.0f, 30, 20, 100, stMax},
      {"lower above upper, at the lower", 30.0f, 30, 20, 100, stMax},
      {"lower above upper, at the upper", 20.0f, 30, 20, 100, stMin},
      {"lower above upper, below both", 10.0f, 30, 20, 100, stMin},
  };
  for (const TClassRow& row : rows)
    EXPECT_EQ(TCondition::Classify(row.Temperature, row.Lower, row.Upper, row.Shutdown), row.Expected)
        << row.Label;
}

TEST(ConditionTemplateTest, Placeholders) {
  struct {
    const char* Label;
    const char* Text;
    const char* Expected;
  } rows[] = {
      {"value and conditionvalue", "Temperature %value% C (limit %conditionvalue%)",
       "Temperature  51.3 C (limit 50)"},
      {"two percent signs", "100%%", "100%"},
      {"lone percent sign keeps the rest", "50% done", "50% done"},
      {"unknown name disappears", "%other%x", "x"},
      {"names are case-sensitive", "[%VALUE%]", "[]"},
      {"trailing percent sign", "load 5%", "load 5%"},
      {"no text", "", ""},
  };
  for (const auto& row : rows)
    EXPECT_EQ(TCondition::ExpandConditionMessage(row.Text, " 51.3", "50"), row.Expected) << row.Label;
}

class ConditionTest : public test::TConditionFixture {
 protected:
  // Every state has a message naming it; one e-mail item acts on every state.
  static std::string Condition(const std::string& off = "<off wait=\"0\">off %value%</off>") {
    return std::string("<CONDITION><min>min %value%</min><normal>normal %value%</normal>") +
           "<max>max %value%</max><error>error %value%</error>" + off +
           "<email address=\"ops@example.com\" message=\"min normal max error off\"/></CONDITION>";
  }
  int RunningShutdownTimers() const { return FPlatform->ShutdownTimers().Running(); }
};

TEST_F(ConditionTest, EachReadingFiresItsStateOnceAndOffBeatsMax) {
  TKelvo* kelvo = Make(Condition());
  Feed("-060.0C");
  for (int i = 0; i < 5; ++i) Feed("+020.0C");
  Feed("+050.1C");
  Feed("+100.5C");
  EXPECT_EQ(Sent(), (Texts{"min -60.0", "normal  20.0", "max  50.1", "off 100.5"}));
  EXPECT_EQ(ConditionOf(kelvo).State(), stOff);
}

TEST_F(ConditionTest, LimitsComeFromTheElementsAndCompareInSinglePrecision) {
  TKelvo* kelvo = Make(
      "<CONDITION><max value=\"20.1\">max %value%</max><email address=\"ops@example.com\"/></CONDITION>");
  kelvo->Tick();    // the first tick makes the state normal without a message
  Feed("+020.1C");  // equal to the limit only in single precision
  EXPECT_TRUE(Sent().empty());
  Feed("+020.2C");
  EXPECT_EQ(Sent(), (Texts{"max  20.2"}));
}

TEST_F(ConditionTest, LimitOrWaitThatIsNotANumberInRangeFailsTheCreation) {
  const struct {
    const char* Label;
    const char* Children;
    const char* Message;
  } rows[] = {
      {"word", "<min value=\"cold\"/>", "min value \"cold\" is not a number"},
      {"comma under a dot locale", "<max value=\"37,5\"/>", "max value \"37,5\" is not a number"},
      {"beyond single precision", "<off value=\"1e39\"/>",
       "off value 1e39 is out of range (-3.40282e+38 to 3.40282e+38)"},
      {"negative wait", "<off wait=\"-1\"/>", "off wait -1 is out of range (0 to 525600)"},
      {"wait beyond a year", "<off wait=\"525601\"/>", "off wait 525601 is out of range (0 to 525600)"},
  };
  for (const auto& row : rows) {
    try {
      Make(std::string("<CONDITION>") + row.Children + "</CONDITION>");
      ADD_FAILURE() << row.Label << ": created";
    } catch (const Exception& error) {
      EXPECT_STREQ(error.what(), row.Message) << row.Label;
    }
  }
}

TEST_F(ConditionTest, LimitsAcceptTheRegionalSeparatorAndThePoint) {
  TRegionalSettings comma = RegionalSettings();
  comma.DecimalSeparator = ',';
  SetRegionalSettings(comma);
  Make(
      "<CONDITION><min value=\"-5,5\">min</min><max value=\"37.5\">max %value%</max>"
      "<email address=\"ops@example.com\"/></CONDITION>");
  Feed("+037.6C");
  EXPECT_EQ(Sent(), (Texts{"max  37,6"}));
}

TEST_F(ConditionTest, MessageTemplateOfTheStateEntered) {
  Make(
      "<CONDITION><max value=\"50\">Temperature %value% C (limit %conditionvalue%)</max>"
      "<min><![CDATA[min <%conditionvalue%>]]></min>"
      "<email address=\"ops@example.com\"/></CONDITION>");
  Feed("+051.3C");
  Feed("-060.0C");
  EXPECT_EQ(Sent(), (Texts{"Temperature  51.3 C (limit 50)", "min <>"}));
}

TEST_F(ConditionTest, TemplateWithChildElementsGivesAnEmptyMessageAndTheStateStillChanges) {
  DebugMode = true;
  StartLog();
  TKelvo* kelvo = Make("<CONDITION><max>hot <b>!</b></max><email address=\"ops@example.com\"/></CONDITION>");
  Feed("+060.0C");
  const Texts logged = StopLog();
  DebugMode = false;
  EXPECT_EQ(ConditionOf(kelvo).State(), stMax);
  EXPECT_EQ(Sent(), (Texts{""}));
  EXPECT_NE(std::find(logged.begin(), logged.end(),
                      "[Room] ! Message template of <max> is not a single text; the message is empty"),
            logged.end());
}

TEST_F(ConditionTest, LostThermometerFiresTheErrorActionsOncePerLoss) {
  TKelvo* kelvo = Make(Condition());
  for (int i = 0; i < 20; ++i) kelvo->Tick();  // the first 20 ticks after the last bytes
  EXPECT_TRUE(Sent().empty());
  for (int i = 0; i < 30; ++i) kelvo->Tick();
  EXPECT_EQ(Sent(), (Texts{"error  20.0"}));
  Feed("+021.0C");
  EXPECT_EQ(Sent(), (Texts{"error  20.0", "normal  21.0"}));
  EXPECT_EQ(ConditionOf(kelvo).State(), stNormal);
}

TEST_F(ConditionTest, LineWithoutNumberBetweenGoodLines) {
  struct {
    const char* Label;
    bool TickBetween;
    Texts Expected;
  } rows[] = {
      {"good line before the tick: only its class fires", false, {"normal  20.0"}},
      {"tick before the good line: error at the tick", true, {"error  20.0", "normal  20.0"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    TKelvo* kelvo = Make(Condition());
    const size_t before = Sent().size();
    kelvo->Tick();
    Feed("ERR");
    EXPECT_EQ(ConditionOf(kelvo).State(), stError) << "set silently";
    EXPECT_EQ(Sent().size(), before);
    if (row.TickBetween) kelvo->Tick();
    Feed("+020.0C");
    Texts sent = Sent();
    EXPECT_EQ(Texts(sent.begin() + static_cast<long>(before), sent.end()), row.Expected);
    delete kelvo;  // frees the port for the next row
  }
}

// Limits 10, 50 and 60; every sequence starts in the normal state. Readings: temperatures, ERR (a
// line without a number) or lost (ticks until the thermometer counts as lost). Sent: the messages,
// separated by "|".
TEST_F(ConditionTest, ConfirmAndHysteresisKeepSingleReadingsAndFlappingFromChangingTheState) {
  const struct {
    const char* Label;
    const char* Hysteresis;
    std::array<int, 3> Confirm;  // of normal, max and off
    const char* Readings;
    const char* Sent;
    int Timers;
  } rows[] = {
      {"confirm: 3rd in a row enters, others restart", "0", {1, 3, 1}, "51 52 20 51 52 53", "max  53.0", 0},
      {"confirm: a line without a number restarts", "0", {1, 1, 2}, "85 ERR 85", "", 0},
      {"confirm: a lost thermometer restarts", "0", {1, 1, 2}, "85 lost 85", "", 0},
      {"flapping", "0", {1, 1, 1}, "50.1 49.9 50.1 49.9", "max  50.1|normal  49.9|max  50.1|normal  49.9", 0},
      {"flapping with confirm", "0", {2, 2, 1}, "50.1 49.9 50.1 49.9", "", 0},
      {"hysteresis at the upper limit", "0.5", {1, 1, 1}, "50.1 49.9 50.1 49.5", "max  50.1|normal  49.5", 0},
      {"hysteresis at the lower limit", "0.5", {1, 1, 1}, "9.9 10.1 10.4 10.5", "min   9.9|normal  10.5", 0},
      {"hysteresis at the off limit", "2", {1, 1, 1}, "61 59 58.1 58", "off  61.0|max  58.0", 1},
      {"spike above off arms the shutdown", "0", {1, 1, 1}, "85 23.5", "off  85.0|normal  23.5", 1},
      {"spike with confirm does not; two do", "0", {1, 1, 2}, "85 23.5 85 86", "off  86.0", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Label);
    const auto confirm = [](int count) { return " confirm=\"" + std::to_string(count) + "\""; };
    TKelvo* kelvo =
        Make(std::string("<CONDITION hysteresis=\"") + row.Hysteresis +
             "\"><min value=\"10\">min %value%</min><normal" + confirm(row.Confirm[0]) +
             ">normal %value%</normal><max value=\"50\"" + confirm(row.Confirm[1]) +
             ">max %value%</max><off value=\"60\" wait=\"10\"" + confirm(row.Confirm[2]) +
             ">off %value%</off><email address=\"ops@example.com\" message=\"min normal max off\"/>"
             "</CONDITION>");
    const size_t before = Sent().size();
    kelvo->Tick();
    std::istringstream readings(row.Readings);
    for (std::string reading; readings >> reading;)
      if (reading == "lost")
        for (uint32_t i = 0; i <= TKelvo::MaxNoDataTicks; ++i) kelvo->Tick();
      else
        Feed(reading == "ERR" ? reading : "+" + reading + "C");
    const Texts sent = Sent();
    EXPECT_EQ(fmt::format("{}", fmt::join(sent.begin() + static_cast<long>(before), sent.end(), "|")),
              row.Sent);
    EXPECT_EQ(RunningShutdownTimers(), row.Timers);
    delete kelvo;  // frees the port
    FPlatform->ShutdownTimers().Stop();
  }
}

TEST_F(ConditionTest, RepeatPassStopsAtTheFirstDueItem) {
  TKelvo* kelvo = Make(
      "<CONDITION><max>max</max>"
      "<email address=\"a@example.com\" message=\"min\" repeatinterval=\"1\"/>"
      "<email address=\"b@example.com\" message=\"max\" repeatinterval=\"1\"/></CONDITION>");
  kelvo->Tick();
  Feed("+060.0C");
  for (int i = 0; i < 5; ++i) {
    TestClock::Advance(120);
    kelvo->Tick();
  }
  EXPECT_EQ(Sent(), (Texts{"max"})) << "the first item is always due and ends every pass";
}

TEST_F(ConditionTest, RepeatsComeAtTheFirstTickAfterEachInterval) {
  for (int minutes : {5, 90}) {
    SCOPED_TRACE(minutes);
    TKelvo* kelvo =
        Make("<CONDITION><max>max</max><email address=\"ops@example.com\" message=\"max\" repeatinterval=\"" +
             std::to_string(minutes) + "\"/></CONDITION>");
    const size_t before = Sent().size();
    kelvo->Tick();
    Feed("+060.0C");
    const double interval = minutes * 60.0;
    const std::pair<double, size_t> steps[] = {
        {interval - 1, 1}, {2, 2},  // one second after the mark
        {interval - 2, 2}, {2, 3},  // the next mark counts from the repeat
        {interval, 4},              // exactly at the mark
    };
    for (const auto& [seconds, expected] : steps) {
      TestClock::Advance(seconds);
      kelvo->Tick();
      EXPECT_EQ(Sent().size() - before, expected) << "after " << seconds << " s more";
    }
    delete kelvo;
  }
}

class ShutdownTimerTest : public ConditionTest {
 protected:
  std::optional<double> ShutdownSecondsLeft() const {
    return FPlatform->StatusBoard()->TakeSnapshot().ShutdownSecondsLeft;
  }
  bool RunLoopUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return FLoop.RunUntil(done, timeout);
  }
};

TEST_F(ShutdownTimerTest, WaitZeroNeverArmsATimer) {
  Make(Condition());
  Feed("+101.0C");
  EXPECT_EQ(Sent(), (Texts{"off 101.0"}));
  EXPECT_EQ(RunningShutdownTimers(), 0);
}

TEST_F(ShutdownTimerTest, EveryEntryIntoOffArmsOneMoreTimerThatLeavingDoesNotCancel) {
  Make(Condition("<off wait=\"10\">off</off>"));
  EXPECT_EQ(ShutdownSecondsLeft(), std::nullopt);
  Feed("+101.0C");
  TestClock::Advance(60);
  Feed("+020.0C");
  EXPECT_EQ(RunningShutdownTimers(), 1);
  Feed("+101.0C");
  EXPECT_EQ(RunningShutdownTimers(), 2);
  EXPECT_EQ(ShutdownSecondsLeft(), 540) << "the first one is due first";
}

TEST_F(ShutdownTimerTest, FirstExpiryShutsDownOnceAndNoLaterTimerTouchesTheFreedConditions) {
  // Two conditions, two timers: the first expiry frees both conditions.
  Make("<CONDITION><off wait=\"0.001\"/></CONDITION><CONDITION><off wait=\"0.002\"/></CONDITION>",
       "<SHUTDOWN type=\"DEFAULT\" value=\"2\"/>");
  LetPlatformTick();
  Feed("+101.0C");
  EXPECT_EQ(RunningShutdownTimers(), 2);
  ASSERT_TRUE(RunLoopUntil([&] { return !ShutdownLog().empty(); }, 3s));
  RunLoopUntil([] { return false; }, 300ms);  // later expiries would come now
  EXPECT_EQ(ShutdownLog(), "2\n");
  EXPECT_EQ(FPlatform->ComponentCount(), 0);
  EXPECT_EQ(RunningShutdownTimers(), 0);
}

// A reload that drops the condition must not cancel a shutdown that its off state armed.
TEST_F(ShutdownTimerTest, FreedConditionLeavesItsShutdownArmed) {
  TKelvo* kelvo =
      Make("<CONDITION><off wait=\"0.002\"/></CONDITION>", "<SHUTDOWN type=\"DEFAULT\" value=\"2\"/>");
  LetPlatformTick();
  Feed("+101.0C");
  delete kelvo;
  ASSERT_TRUE(RunLoopUntil([&] { return !ShutdownLog().empty(); }, 3s));
  EXPECT_EQ(ShutdownLog(), "2\n");
}

TEST_F(ShutdownTimerTest, FailingShutdownWalkFreesNothingAndTriesAgain) {
  Make("<CONDITION><off wait=\"0.001\"/></CONDITION>", "<SHUTDOWN value=\"1\"/>");
  LetPlatformTick();
  Feed("+101.0C");
  RunLoopUntil([] { return false; }, 400ms);
  EXPECT_EQ(ShutdownLog(), "");
  EXPECT_EQ(FPlatform->ComponentCount(), 1);
  EXPECT_EQ(RunningShutdownTimers(), 1) << "the next expiry tries again";
}

}  // namespace
}  // namespace duz
