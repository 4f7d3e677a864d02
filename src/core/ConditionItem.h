#pragma once
// TConditionItem: one action of a condition, from an "email" or "netmessage" element: it acts when
// the condition enters a state of its set, and again every repeatinterval minutes while that lasts.
// Owned by its TCondition, which calls Fire and CheckRepeat while holding its lock, on whichever
// thread drives the condition (owner thread or tick thread). Neither waits for the network: an
// e-mail goes to the platform's e-mail outbox with copies of the message and the server settings.
#include <chrono>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "base/Component.h"
#include "core/Condition.h"

namespace duz {

class TConditionItem : public TComponent {
 public:
  // Raises for a repeatinterval that is not a whole number of minutes in range (ConfigValues.h).
  TConditionItem(TCondition& condition, pugi::xml_node element);

  // Expands the message, then acts if the condition's state is selected; never fails.
  void Fire();
  // True when the repeat time had come (the item then fired, whether it acted or not).
  bool CheckRepeat();

  const std::string& Message() const { return FMessage; }
  TConditionStates States() const { return FStates; }

  // The states a message attribute selects: its upper-cased text searched for MIN, NORMAL, MAX,
  // ERROR and OFF; an empty text selects every state but the normal one.
  static TConditionStates ParseStates(std::string_view message);

 private:
  // The started process's id, or -1 (no address, or the start failed).
  int SendNetMessage();
  // Hands the e-mail to the outbox, which sends it (and retries it) and writes its log lines.
  void PostEmail();

  TCondition& FCondition;
  pugi::xml_node FElement;
  std::string FMessage;
  // Guarded by the condition's lock, as Fire and CheckRepeat are called under it.
  std::optional<TMonotonicTime> FLastFired;  // empty until the item acted: its repeat is due
  std::chrono::minutes FRepeatInterval{0};   // 0: no repetition
  TConditionStates FStates;
};

}  // namespace duz
