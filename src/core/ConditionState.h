#pragma once
// The states of a condition, and their names in the configuration and in every report.
#include <bitset>

namespace duz {

// The order counts: the items' state sets are indexed by it.
enum TConditionState { stNone, stMin, stNormal, stMax, stError, stOff };
using TConditionStates = std::bitset<stOff + 1>;

// "min", "normal", "max", "error", "off"; "" for stNone. The names of the state elements.
constexpr const char* ConditionStateName(TConditionState state) {
  constexpr const char* names[] = {"", "min", "normal", "max", "error", "off"};
  return names[state];
}

}  // namespace duz
