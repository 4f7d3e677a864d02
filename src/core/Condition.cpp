#include "core/Condition.h"

#include <string_view>

#include "base/FloatFormat.h"
#include "base/MutexLock.h"
#include "config/ConfigValues.h"
#include "config/XmlHelpers.h"
#include "core/ConditionItem.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"

namespace duz {

TCondition::TCondition(TKelvo& subservice, pugi::xml_node element)
    : TKelvoChild(subservice, element),
      FPlatform(subservice.Platform()),
      FFingerprint(ConditionFingerprint(ElementXml(element))),
      FLower(ConditionLimit(element, "min")),
      FUpper(ConditionLimit(element, "max")),
      FShutdown(ConditionLimit(element, "off")),
      FHysteresis(Hysteresis(element)),
      FShutdownWait(ShutdownWait(element)),
      FConfirm{1, ConfirmCount(element, "min"), ConfirmCount(element, "normal"), ConfirmCount(element, "max"),
               1, ConfirmCount(element, "off")},
      FStatusIndex(subservice.Status().AddCondition()) {
  for (pugi::xml_node child : element.children()) {
    const std::string_view name = child.name();
    if (name == "email" || name == "netmessage" || name == "webhook") new TConditionItem(*this, child);
  }
}

TConditionState TCondition::Classify(float temperature, float lower, float upper, float shutdown,
                                     float hysteresis, TConditionState current) {
  TConditionState state = stError;
  if (temperature < lower) state = stMin;
  if (temperature > upper) state = stMax;
  // The limits themselves count as normal; otherwise a reading at a limit would look like a lost
  // thermometer.
  if (lower <= temperature && temperature <= upper) state = stNormal;
  if (temperature > shutdown) state = stOff;
  // Within the band a reading keeps the state it would leave, so a value at a limit does not flap.
  if (current == stOff && temperature > shutdown - hysteresis) return stOff;
  if (state == stNormal && current == stMax && temperature > upper - hysteresis) return stMax;
  if (state == stNormal && current == stMin && temperature < lower + hysteresis) return stMin;
  return state;
}

void TCondition::Evaluate() {
  TMutexLock lock(FLock);
  Subservice().Status().SetConditionLimits(FStatusIndex, FLower, FUpper, FShutdown);
  const TConditionState state = Subservice().IsConnected() ? Classify(Subservice().Temperature(), FLower,
                                                                      FUpper, FShutdown, FHysteresis, FState)
                                                           : stError;
  if (!Confirmed(state) || state == FState) return;
  if (state == stError) {
    // Silently: the error actions are the tick's business.
    SetState(stError);
    return;
  }
  if (state == stOff) StartShutdownTimer();
  ChangeState(state);
}

bool TCondition::Confirmed(TConditionState state) {
  if (state == FState || state == stError) {
    FCandidateCount = 0;
    return true;
  }
  FCandidateCount = state == FCandidate ? FCandidateCount + 1 : 1;
  FCandidate = state;
  return FCandidateCount >= FConfirm[state];
}

void TCondition::Tick() {
  TMutexLock lock(FLock);
  if (FState == stNone) {
    SetState(stNormal);
    return;
  }
  if (!Subservice().IsConnected()) SetErrorState();
  CheckRepeats();
}

std::optional<float> TCondition::Limit(TConditionState state) const {
  if (state == stMin) return FLower;
  if (state == stMax) return FUpper;
  if (state == stOff) return FShutdown;
  return std::nullopt;
}

TConditionState TCondition::State() const {
  TMutexLock lock(FLock);
  return FState;
}

pugi::xml_node TCondition::StateElement(TConditionState state) const {
  return Element().child(ConditionStateName(state));
}

void TCondition::SetState(TConditionState state) {
  FState = state;
  FCandidateCount = 0;
  Subservice().Status().SetConditionState(FStatusIndex, state);
  FPlatform.NoteStateChange();
}

void TCondition::SetErrorState() {
  if (FElementState != stError) ChangeState(stError);
}

// The pass ends at the first item whose repeat is due, whether it acts or not.
void TCondition::CheckRepeats() {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* item = static_cast<TConditionItem*>(Component(i)); item->RepeatDue()) {
      item->Fire(FState, ExpandMessage());
      FPlatform.NoteStateChange();
      return;
    }
}

void TCondition::ChangeState(TConditionState state) {
  SetState(state);
  FElementState = state;
  const std::string message = ExpandMessage();
  for (int i = 0; i < ComponentCount(); ++i) static_cast<TConditionItem*>(Component(i))->Fire(state, message);
}

// A wait of 0 is a period that never fires.
void TCondition::StartShutdownTimer() { FPlatform.ShutdownTimers().Start(ConfigRoot(), FShutdownWait); }

void TCondition::MoveTo(pugi::xml_node from, pugi::xml_node to) {
  TKelvoChild::MoveTo(from, to);
  for (int i = 0; i < ComponentCount(); ++i) static_cast<TConditionItem*>(Component(i))->MoveTo(from, to);
}

TSavedCondition TCondition::Saved() const {
  TMutexLock lock(FLock);
  TSavedCondition saved{FFingerprint, FState, FElementState, {}};
  for (int i = 0; i < ComponentCount(); ++i) {
    const std::optional<TMonotonicTime> fired = static_cast<TConditionItem*>(Component(i))->LastFired();
    saved.LastFired.push_back(fired ? std::optional(WallMsOf(*fired)) : std::nullopt);
  }
  return saved;
}

void TCondition::Restore(const TSavedCondition& saved) {
  if (saved.Fingerprint != FFingerprint) return;
  TMutexLock lock(FLock);
  SetState(saved.State);
  FElementState = saved.ElementState;
  for (int i = 0; i < ComponentCount() && i < static_cast<int>(saved.LastFired.size()); ++i)
    if (const std::optional<TWallMs> fired = saved.LastFired[i])
      static_cast<TConditionItem*>(Component(i))->SetLastFired(MonotonicOf(*fired));
}

pugi::xml_node TCondition::ConfigRoot() const {
  pugi::xml_node node = Element();
  while (node.parent().type() == pugi::node_element) node = node.parent();
  return node;
}

std::string TCondition::ExpandMessage() const {
  if (FElementState == stNone) return "";
  const pugi::xml_node element = StateElement(FElementState);
  std::string text;
  if (const pugi::xml_node content = element.first_child()) {
    const bool singleText = !content.next_sibling() &&
                            (content.type() == pugi::node_pcdata || content.type() == pugi::node_cdata);
    if (!singleText) {
      // A configuration error; the state change and the actions go on with an empty message.
      DebugLog(Subservice().LogPrefix(), "! Message template of <", element.name(),
               "> is not a single text; the message is empty");
      return "";
    }
    text = content.value();
  }
  return ExpandConditionMessage(text, FormatTemperature(Subservice().Temperature()),
                                element.attribute("value").value());
}

std::string TCondition::ExpandConditionMessage(const std::string& text, const std::string& value,
                                               const std::string& conditionValue) {
  std::string result;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find('%', pos);
    if (open == std::string::npos) {
      result.append(text, pos);
      break;
    }
    result.append(text, pos, open - pos);
    const size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      // A lone "%" stays, and so does the rest.
      result += '%';
      pos = open + 1;
      continue;
    }
    const std::string name = text.substr(open + 1, close - open - 1);
    pos = close + 1;
    if (name.empty())
      result += '%';
    else if (name == "value")
      result += value;
    else if (name == "conditionvalue")
      result += conditionValue;
    // Any other name disappears.
  }
  return result;
}

}  // namespace duz
