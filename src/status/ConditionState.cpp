#include "status/ConditionState.h"

#include <string>

#include "base/Text.h"

namespace duz {

namespace {

struct TStateWord {
  const char* Word;
  TConditionState State;
};
const TStateWord StateWords[] = {
    {"MIN", stMin}, {"NORMAL", stNormal}, {"MAX", stMax}, {"ERROR", stError}, {"OFF", stOff}};

}  // namespace

TConditionStates ParseConditionStates(std::string_view message) {
  TConditionStates states;
  if (message.empty()) return TConditionStates().set().reset(stNormal);
  const std::string upper = UpperCase(message);
  for (const TStateWord& word : StateWords)
    if (upper.find(word.Word) != std::string::npos) states.set(word.State);
  return states;
}

}  // namespace duz
