#pragma once
// TConditionItem: one action of a condition, from an "email", "netmessage" or "webhook" element: it
// acts when the condition enters a state of its set, and again every repeatinterval minutes while
// that lasts. Owned by its TCondition, which calls Fire and CheckRepeat while holding its lock, on
// whichever thread drives the condition (owner thread or tick thread). Neither waits for the
// network: an e-mail goes to the platform's e-mail outbox with copies of the message and the server
// settings, a webhook's alarm to its webhook outbox, and a net message's program is not waited for.
#include <chrono>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "base/Component.h"
#include "core/Condition.h"
#include "core/NetMessage.h"
#include "core/WebhookJob.h"

namespace duz {

class TConditionItem : public TComponent {
 public:
  // Raises for a repeatinterval that is not a whole number of minutes in range (ConfigValues.h), and
  // for a webhook's settings that cannot be used (ReadWebhookTarget).
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
  // Hands the e-mail to the outbox, which sends it (and retries it) and writes its log lines.
  void PostEmail();
  // Hands the alarm to the webhook outbox, which posts it (and retries it) and writes its log lines.
  void PostWebhook();

  TCondition& FCondition;
  pugi::xml_node FElement;
  std::string FMessage;
  // Guarded by the condition's lock, as Fire and CheckRepeat are called under it.
  std::optional<TMonotonicTime> FLastFired;  // empty until the item acted: its repeat is due
  std::chrono::minutes FRepeatInterval{0};   // 0: no repetition
  TConditionStates FStates;
  std::optional<TNetMessage> FNetMessage;  // a netmessage element with an address
  std::optional<TWebhookTarget> FWebhook;  // a webhook element
};

}  // namespace duz
