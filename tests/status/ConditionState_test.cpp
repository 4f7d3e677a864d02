#include "status/ConditionState.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace duz {
namespace {

TConditionStates States(std::initializer_list<TConditionState> states) {
  TConditionStates set;
  for (TConditionState state : states) set.set(state);
  return set;
}

TEST(ConditionStateTest, WordsOfTheMessageAttribute) {
  const struct {
    const char* Message;
    TConditionStates Expected;
  } rows[] = {
      {"min,normal", States({stMin, stNormal})},
      {"Normal MIN", States({stMin, stNormal})},
      {"max;error;off", States({stMax, stError, stOff})},
      {"OFFLINE", States({stOff})},
      {"maximum", States({stMax})},
      {"none", States({})},
      {" ", States({})},
      {"", States({stNone, stMin, stMax, stError, stOff})},
  };
  for (const auto& row : rows) EXPECT_EQ(ParseConditionStates(row.Message), row.Expected) << row.Message;
}

}  // namespace
}  // namespace duz
