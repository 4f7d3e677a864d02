// The state file and the history file beside it: what each write takes, and a start that joins them.
#include "core/StateFile.h"

#include <gtest/gtest.h>

#include "base/Clock.h"
#include "support/TempDir.h"

namespace duz {
namespace {

TWatchState OneThermometer() {
  TWatchState state;
  state.Thermometers.push_back({3, "Rack", {{7, stMax, stMax, {}}}, {{66000000, 20.5F, 21.0F, 21.5F}}});
  return state;
}

class StateFileTest : public ::testing::Test {
 protected:
  void SetUp() override { TestClock::Set(46000.5); }
  void TearDown() override { TestClock::Reset(); }
  test::TTempDir FDir;
  TEventLogger FEvents{"test"};
  TStateFile FFile{FDir.File("w.state"), FEvents};
};

// A condition that flaps must not rewrite a day of history each second.
TEST_F(StateFileTest, ChangesRewriteTheStateAloneAndTheHistoryWaitsForItsInterval) {
  EXPECT_EQ(FFile.Due(), TStateDue::Nothing);
  FFile.Write(OneThermometer(), true);
  FFile.NoteChange();
  EXPECT_EQ(FFile.Due(), TStateDue::State);
  TWatchState changed = OneThermometer();
  changed.Thermometers[0].Conditions[0].State = stNormal;
  changed.Thermometers[0].History.clear();
  FFile.Write(changed, false);
  EXPECT_EQ(FDir.Read("w.state").find("<history"), std::string::npos);
  TestClock::Advance(std::chrono::seconds(TStateFile::HistoryInterval).count());
  EXPECT_EQ(FFile.Due(), TStateDue::StateAndHistory);

  const std::optional<TWatchState> loaded = FFile.Load();
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->Thermometers.size(), 1U);
  EXPECT_EQ(loaded->Thermometers[0].Conditions[0].State, stNormal);
  ASSERT_EQ(loaded->Thermometers[0].History.size(), 1U);
  EXPECT_EQ(loaded->Thermometers[0].History[0].Mean, 21.0F);
}

// An earlier version kept the histories in the state file: its first rewrite must not drop them.
TEST_F(StateFileTest, AStateFileThatHoldsTheHistoryItselfStillGivesIt) {
  FDir.Write("w.state", WriteWatchState(OneThermometer()));
  const std::optional<TWatchState> loaded = FFile.Load();
  ASSERT_TRUE(loaded);
  ASSERT_EQ(loaded->Thermometers.at(0).History.size(), 1U);
  EXPECT_EQ(loaded->Thermometers[0].History[0].Max, 21.5F);
  FFile.NoteChange();
  EXPECT_EQ(FFile.Due(), TStateDue::StateAndHistory);
}

}  // namespace
}  // namespace duz
