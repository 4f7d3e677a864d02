#pragma once
// TCondition: watches its subservice's temperature against the limits of its CONDITION element
// (children min, max and off, read and checked at creation), keeps one of five states and fires
// its action items (TConditionItem, owned, in document order) when the state changes. Entering the
// off state also arms a shutdown timer (its platform's) on the evaluating thread's event loop, which
// the condition's end does not cancel. Its state can be saved and given to a condition of the same
// element in a later run or after a reload (Saved, Restore). A state
// element's confirm asks for that many readings of its class in a row before the state is entered; the
// CONDITION's hysteresis keeps a state beyond a limit until a reading is that far back from it.
// Owned by its TKelvo. Evaluate runs on the owner thread, Tick on the tick thread; one lock per
// condition serialises them, held for the whole evaluation, tick step or state change.
#include <array>
#include <chrono>
#include <optional>
#include <pugixml.hpp>
#include <string>

#include "base/Mutex.h"
#include "core/KelvoChild.h"
#include "core/WatchState.h"
#include "status/ConditionState.h"

namespace duz {

class TKelvoPlatform;

class TCondition : public TKelvoChild {
 public:
  // Raises for a limit or off wait that is not a number in range (ConfigValues.h), and when an
  // action item cannot be created.
  TCondition(TKelvo& subservice, pugi::xml_node element);

  void Evaluate() override;
  void Tick() override;
  void MoveTo(pugi::xml_node from, pugi::xml_node to) override;

  // Any thread.
  TSavedCondition Saved() const EXCLUDES(FLock);
  // Of the element's text.
  uint64_t Fingerprint() const { return FFingerprint; }
  // Owner thread, before the condition has seen a reading or a tick: resumes the state saved from a
  // condition of the same element, so that a state announced is not announced again and the
  // repeats keep their rhythm. A state of another element is ignored.
  void Restore(const TSavedCondition& saved) EXCLUDES(FLock);

  TConditionState State() const EXCLUDES(FLock);
  // The limit that puts a reading into the state: min, max or off; none for the others.
  std::optional<float> Limit(TConditionState state) const;
  // The root element of the configuration the condition belongs to.
  pugi::xml_node ConfigRoot() const;

  // The class of a reading for a condition now in state current: while in min, max or off, a
  // reading less than hysteresis back from that state's limit keeps the state.
  static TConditionState Classify(float temperature, float lower, float upper, float shutdown,
                                  float hysteresis = 0, TConditionState current = stNone);
  // A condition's message template expanded with the given texts for %value% and %conditionvalue%.
  static std::string ExpandConditionMessage(const std::string& text, const std::string& value,
                                            const std::string& conditionValue);

 private:
  friend class TConditionItem;  // acts under FLock

  pugi::xml_node StateElement(TConditionState state) const;
  // The message template of the state element last entered, with %value%, %conditionvalue% and %%
  // replaced: what the action items send. Empty before any state change.
  std::string ExpandMessage() const REQUIRES(FLock);
  // FState, as the subservice's status shows it too.
  void SetState(TConditionState state) REQUIRES(FLock);
  // Whether a reading of this class may change the state now: at once for the current state and
  // for stError, otherwise at the confirm-th reading of the class in a row.
  bool Confirmed(TConditionState state) REQUIRES(FLock);
  void SetErrorState() REQUIRES(FLock);
  void CheckRepeats() REQUIRES(FLock);
  void ChangeState(TConditionState state) REQUIRES(FLock);
  void StartShutdownTimer();

  TKelvoPlatform& FPlatform;
  const uint64_t FFingerprint;  // of the element's text
  const float FLower, FUpper, FShutdown;
  const float FHysteresis;
  const std::chrono::milliseconds FShutdownWait;
  // Readings in a row that enter each state, by TConditionState; 1 for stNone and stError.
  const std::array<int, stOff + 1> FConfirm;
  const int FStatusIndex;  // this condition's slot in the subservice's status
  // Held for a whole evaluation, tick step or state change, the items' actions included.
  mutable TMutex FLock;
  TConditionState FState GUARDED_BY(FLock) = stNone;
  // The state whose element was last entered through ChangeState, stNone before that: its element
  // gives the message template.
  TConditionState FElementState GUARDED_BY(FLock) = stNone;
  // The class of the last readings that differed from FState, and how many came in a row; the count
  // starts again at every change of FState.
  TConditionState FCandidate GUARDED_BY(FLock) = stNone;
  int FCandidateCount GUARDED_BY(FLock) = 0;
};

}  // namespace duz
