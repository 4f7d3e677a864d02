#pragma once
// TConditionItem: one action of a condition, from an "email", "netmessage" or "webhook" element: it
// acts when the condition enters a state of its set, and again every repeatinterval minutes while
// that lasts. Owned by its TCondition, which calls Fire and RepeatDue while holding its lock, on
// whichever thread drives the condition (owner thread or tick thread). Neither waits for the
// network: an e-mail goes to the platform's e-mail outbox with copies of the message and the server
// settings, a webhook's alarm to its webhook outbox, and a net message's program is not waited for.
#include <chrono>
#include <optional>
#include <pugixml.hpp>
#include <string>

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

  // Acts with the condition's expanded message if its state is selected; never fails.
  void Fire(TConditionState state, const std::string& message);
  // Whether the repeat time has come: then the condition fires the item again.
  bool RepeatDue() const;
  // When the item last acted; set from a saved state, so that its repeats keep their rhythm.
  std::optional<TMonotonicTime> LastFired() const;
  void SetLastFired(TMonotonicTime time);
  // As TKelvoChild::MoveTo, with the condition.
  void MoveTo(pugi::xml_node from, pugi::xml_node to);

  TConditionStates States() const { return FStates; }

 private:
  // Hands the e-mail to the outbox, which sends it (and retries it) and writes its log lines.
  void EnqueueEmail(const std::string& text);
  // Hands the alarm to the webhook outbox, which posts it (and retries it) and writes its log lines.
  void EnqueueWebhook(TConditionState state, const std::string& message);

  TCondition& FCondition;
  pugi::xml_node FElement;
  // Empty until the item acted: its repeat is due.
  std::optional<TMonotonicTime> FLastFired GUARDED_BY(FCondition.FLock);
  std::chrono::minutes FRepeatInterval{0};  // 0: no repetition
  TConditionStates FStates;
  std::optional<TNetMessage> FNetMessage;  // a netmessage element with an address
  std::optional<TWebhookTarget> FWebhook;  // a webhook element
};

}  // namespace duz
