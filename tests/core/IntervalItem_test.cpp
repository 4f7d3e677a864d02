#include "core/IntervalItem.h"

#include <gtest/gtest.h>

#include "base/Exception.h"
#include "core/IntervalFixture.h"

namespace duz {
namespace {

class TCountingItem : public TIntervalItem {
 public:
  using TIntervalItem::TIntervalItem;
  int Runs = 0;
  bool Fail = false;

 protected:
  bool DoAction(TKelvo&) override {
    ++Runs;
    if (Fail) throw Exception("disk full");
    return true;
  }
};

class IntervalItemTest : public test::TIntervalFixture {
 protected:
  TCountingItem& MakeItem(const std::string& interval) {
    FKelvo = Make("<Kelvo comport=\"1\" caption=\"Hall\"><ITEM interval=\"" + interval + "\"/></Kelvo>");
    return *new TCountingItem(*FKelvo, FKelvo->Element().child("ITEM"));
  }
  // Time passes until the given number of seconds after the item was made.
  void At(double seconds) { ClockAt(seconds); }

  TKelvo* FKelvo = nullptr;
};

TEST_F(IntervalItemTest, FirstRunComesFifteenSecondsAfterConstructionThenEveryInterval) {
  TCountingItem& item = MakeItem("1");
  const struct {
    double Seconds;
    int Runs;
  } steps[] = {{0, 0}, {14.9, 0}, {15.1, 1}, {16, 1}, {74.9, 1}, {75.1, 2}, {134.9, 2}, {135.1, 3}};
  for (const auto& step : steps) {
    At(step.Seconds);
    FKelvo->Tick();
    EXPECT_EQ(item.Runs, step.Runs) << "at " << step.Seconds << " s";
  }
}

TEST_F(IntervalItemTest, TimePassingSeveralIntervalsCatchesUpOneRunPerTick) {
  TCountingItem& item = MakeItem("1");
  At(15.5);
  item.CheckDue(*FKelvo);
  ASSERT_EQ(item.Runs, 1);
  At(15.5 + 600);
  for (int tick = 1; tick <= 10; ++tick) {
    item.CheckDue(*FKelvo);
    EXPECT_EQ(item.Runs, 1 + tick) << "tick " << tick;
  }
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 11) << "caught up: the next run is a minute away";
  At(15.5 + 660);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 12);
}

TEST_F(IntervalItemTest, WallClockStepsNeitherPauseNorHurryTheSchedule) {
  TCountingItem& item = MakeItem("1");
  At(15.5);
  item.CheckDue(*FKelvo);
  TestClock::StepWall(-3600);  // summer time ends
  At(75.5);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 2) << "the schedule paused for the hour the clock went back";
  TestClock::StepWall(2 * 3600);  // a clock set forward at boot
  for (int tick = 0; tick < 3; ++tick) item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 2) << "the schedule hurried to catch up with the wall clock";
  At(135.5);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 3);
}

TEST_F(IntervalItemTest, IntervalZeroRunsOnEveryTick) {
  TCountingItem& item = MakeItem("0");
  At(14);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 0);
  At(15.5);
  for (int tick = 0; tick < 3; ++tick) item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 3);
}

TEST_F(IntervalItemTest, IntervalOfAnHourAndMoreIsAccepted) {
  TCountingItem& item = MakeItem("90");
  EXPECT_EQ(item.GetInterval(), std::chrono::minutes(90));
  At(15.5);
  item.CheckDue(*FKelvo);
  At(15.5 + 89 * 60);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 1);
  At(15.5 + 90 * 60);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 2);
}

TEST_F(IntervalItemTest, IntervalThatIsNotAWholeNumberInRangeFailsTheThermometer) {
  EXPECT_THROW(
      try { Make(R"(<Kelvo comport="1"><SAVE interval="-1"/></Kelvo>)"); } catch (const ERangeError& error) {
        EXPECT_STREQ(error.what(), "interval -1 is out of range (0 to 525600)");
        throw;
      },
      ERangeError);
  EXPECT_THROW(Make(R"(<Kelvo comport="1"><SAVE interval="525601"/></Kelvo>)"), ERangeError);
  EXPECT_THROW(Make(R"(<Kelvo comport="1"><HTMLPOST interval="abc"/></Kelvo>)"), EConvertError);
  EXPECT_EQ(FPlatform->ComponentCount(), 0) << "no half-built thermometer stays behind";
}

TEST_F(IntervalItemTest, FailingActionIsLoggedAndDoesNotStallTheSchedule) {
  test::TLogCapture log;
  TCountingItem& item = MakeItem("1");
  item.Fail = true;
  At(15.5);
  EXPECT_NO_THROW(item.CheckDue(*FKelvo));
  EXPECT_NO_THROW(item.CheckDue(*FKelvo));
  EXPECT_EQ(item.Runs, 1) << "the failed run counts as done";
  EXPECT_EQ(log.Lines("Exception"), std::vector<std::string>{"[Hall] ! Exception - disk full"});
  item.Fail = false;
  At(75.5);
  item.CheckDue(*FKelvo);
  EXPECT_EQ(item.Runs, 2);
}

}  // namespace
}  // namespace duz
