#include "core/Condition.h"

#include <string_view>

#include "base/FloatFormat.h"
#include "base/MutexLock.h"
#include "config/ConfigValues.h"
#include "core/ConditionItem.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "log/Logger.h"

namespace duz {

TCondition::TCondition(TKelvo& subservice, pugi::xml_node element)
    : TKelvoChild(subservice),
      FPlatform(subservice.Platform()),
      FElement(element),
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

TCondition::~TCondition() {
  // A timer outliving its condition would later run with a freed configuration.
  FPlatform.ShutdownTimers().Stop(this);
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
  return FElement.child(ConditionStateName(state));
}

void TCondition::SetState(TConditionState state) {
  FState = state;
  FCandidateCount = 0;
  Subservice().Status().SetConditionState(FStatusIndex, state);
}

void TCondition::SetErrorState() {
  if (FElementState != stError) ChangeState(stError);
}

// The pass ends at the first item whose repeat is due, whether it acts or not.
void TCondition::CheckRepeats() {
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* item = static_cast<TConditionItem*>(Component(i)); item->RepeatDue()) {
      item->Fire(FState, ExpandMessage());
      return;
    }
}

void TCondition::ChangeState(TConditionState state) {
  SetState(state);
  FElementState = state;
  const std::string message = ExpandMessage();
  for (int i = 0; i < ComponentCount(); ++i) static_cast<TConditionItem*>(Component(i))->Fire(state, message);
}

void TCondition::StartShutdownTimer() {
  // The timer keeps the platform and the configuration root, not the condition: the shutdown frees
  // the condition. Both outlive the timer, which the condition's end stops. A wait of 0 is a period
  // that never fires.
  FPlatform.ShutdownTimers().Start(
      this, FShutdownWait, [&platform = FPlatform, root = ConfigRoot()] { platform.ShutdownComputer(root); });
}

pugi::xml_node TCondition::ConfigRoot() const {
  pugi::xml_node node = FElement;
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
