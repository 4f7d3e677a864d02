#pragma once
// The states of a condition, and their names in the configuration and in every report.
#include <bitset>
#include <string_view>

namespace duz {

// The order counts: the items' state sets are indexed by it.
enum TConditionState { stNone, stMin, stNormal, stMax, stError, stOff };
using TConditionStates = std::bitset<stOff + 1>;

// "min", "normal", "max", "error", "off"; "" for stNone. The names of the state elements.
constexpr const char* ConditionStateName(TConditionState state) {
  constexpr const char* names[] = {"", "min", "normal", "max", "error", "off"};
  return names[state];
}

// The states a message attribute selects: its upper-cased text searched for MIN, NORMAL, MAX,
// ERROR and OFF; an empty text selects every state but the normal one.
TConditionStates ParseConditionStates(std::string_view message);

}  // namespace duz
