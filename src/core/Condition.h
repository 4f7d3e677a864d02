#pragma once
// TCondition: watches its subservice's temperature against the limits of its CONDITION element
// (children min, max and off, read and checked at creation), keeps one of five states and fires
// its action items (TConditionItem, owned, in document order) when the state changes. Entering the
// off state also arms a shutdown timer on the evaluating thread's event loop.
// Owned by its TKelvo. Evaluate runs on the owner thread, Tick on the tick thread; one lock per
// condition serialises them, held for the whole evaluation, tick step or state change.
#include <chrono>
#include <mutex>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "core/ConditionState.h"
#include "core/KelvoChild.h"

namespace duz {

class TCondition : public TKelvoChild {
 public:
  // Raises for a limit or off wait that is not a number in range (ConfigValues.h), and when an
  // action item cannot be created.
  TCondition(TKelvo& subservice, pugi::xml_node element);
  ~TCondition() override;

  void Evaluate() override;
  void Tick() override;

  TConditionState State() const;
  // The limit that puts a reading into the state: min, max or off; none for the others.
  std::optional<float> Limit(TConditionState state) const;
  // The message template of the state element last entered, with %value%, %conditionvalue% and %%
  // replaced. Empty before any state change.
  std::string ExpandMessage() const;
  // The root element of the configuration the condition belongs to.
  pugi::xml_node ConfigRoot() const;

  static TConditionState Classify(float temperature, float lower, float upper, float shutdown);
  // A condition's message template expanded with the given texts for %value% and %conditionvalue%.
  static std::string ExpandConditionMessage(const std::string& text, const std::string& value,
                                            const std::string& conditionValue);

 private:
  pugi::xml_node StateElement(TConditionState state) const;
  // FState, as the subservice's status shows it too.
  void SetState(TConditionState state);
  void SetErrorState();
  void CheckRepeats();
  void ChangeState(TConditionState state);
  void StartShutdownTimer();

  pugi::xml_node FElement;
  const float FLower, FUpper, FShutdown;
  const std::chrono::milliseconds FShutdownWait;
  const int FStatusIndex;  // this condition's slot in the subservice's status
  // Recursive: the items call State and ExpandMessage back while a state change holds it.
  mutable std::recursive_mutex FLock;
  TConditionState FState = stNone;  // guarded by FLock
  // The state whose element was last entered through ChangeState, stNone before that: its element
  // gives the message template. Guarded by FLock.
  TConditionState FElementState = stNone;
};

}  // namespace duz
