#include "core/ConditionItem.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>

#include "base/Clock.h"
#include "config/ConfigValues.h"
#include "config/XmlHelpers.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "core/MailJob.h"
#include "log/Logger.h"
#include "net/HostAddress.h"

namespace duz {

TConditionItem::TConditionItem(TCondition& condition, pugi::xml_node element)
    : TComponent(&condition), FCondition(condition), FElement(element) {
  FRepeatInterval = RepeatInterval(element);
  FStates = ParseConditionStates(GetAttrDef(element, "message", "").ToString());
  const std::string_view name = element.name();
  if (const pugi::xml_attribute address = element.attribute("address"); name == "netmessage" && address)
    FNetMessage.emplace(address.value());
  if (name == "webhook") FWebhook = ReadWebhookTarget(element);
}

void TConditionItem::Fire(TConditionState state, const std::string& message) {
  FCondition.FLock.AssertHeld();
  if (!FStates.test(state)) return;
  try {
    if (FNetMessage)
      FNetMessage->Send(FCondition.Subservice().GetCaption(), message);
    else if (FWebhook)
      EnqueueWebhook(state, message);
    else if (std::strcmp(FElement.name(), "email") == 0)
      EnqueueEmail(message);
    FLastFired = MonotonicNow();
  } catch (...) {
    // An action never disturbs its condition; the next repeat tries again.
  }
}

bool TConditionItem::RepeatDue() const {
  FCondition.FLock.AssertHeld();
  return FRepeatInterval.count() != 0 && (!FLastFired || MonotonicNow() - *FLastFired >= FRepeatInterval);
}

std::optional<TMonotonicTime> TConditionItem::LastFired() const {
  FCondition.FLock.AssertHeld();
  return FLastFired;
}

void TConditionItem::SetLastFired(TMonotonicTime time) {
  FCondition.FLock.AssertHeld();
  FLastFired = time;
}

void TConditionItem::MoveTo(pugi::xml_node from, pugi::xml_node to) {
  FElement = Counterpart(FElement, from, to);
}

void TConditionItem::EnqueueEmail(const std::string& text) {
  const std::string caption = FCondition.Subservice().GetCaption();
  const pugi::xml_node smtp = FCondition.ConfigRoot().child("SMTP");
  TMailMessage message =
      AlarmMessage(smtp, ParseAddressList(GetAttrDef(FElement, "address", "").ToString()), caption, text);
  TSmtpSettings settings;
  try {
    settings = ReadSmtpSettings(smtp);
  } catch (const std::exception& error) {
    // A configuration error: no attempt could ever succeed, so none is made.
    DebugLog(TKelvo::LogPrefixOf(caption), "> EMAIL exception: ", error.what());
    FCondition.Subservice().Status().CountEmail(false);
    FCondition.Subservice().Platform().LogEvent(
        "E-mail to " + FormatAddressList(message.Recipients) + " not sent: " + error.what(),
        EVENTLOG_ERROR_TYPE, 0, 0);
    return;
  }
  FCondition.Subservice().Platform().MailOutbox().Enqueue(std::make_unique<TMailJob>(
      std::move(settings), std::move(message), caption, FCondition.Subservice().SharedStatus()));
}

void TConditionItem::EnqueueWebhook(TConditionState state, const std::string& message) {
  TWebhookAlarm alarm{FCondition.Subservice().GetCaption(),
                      ConditionStateName(state),
                      std::nullopt,
                      FCondition.Limit(state),
                      message,
                      Now(),
                      LocalHostName()};
  if (state != stError) alarm.Temperature = FCondition.Subservice().Temperature();
  FCondition.Subservice().Platform().WebhookOutbox().Enqueue(
      std::make_unique<TWebhookJob>(*FWebhook, std::move(alarm)));
}

}  // namespace duz
