#pragma once
// TIntervalItem: the base of the periodic actions of a thermometer (file savers, HTTP posters).
// Owned by its TKelvo. Reads `interval` (whole minutes, default 1) once at construction; the first
// run is due 15 s after construction, later runs on a schedule anchored there. The schedule runs
// on the monotonic clock: a step of the wall clock (the end of summer time) neither pauses nor
// hurries it. The tick thread calls Tick (CheckDue) about once per second; DoAction runs on that
// thread.
#include <chrono>
#include <pugixml.hpp>
#include <string>

#include "base/Clock.h"
#include "core/KelvoChild.h"

namespace duz {

class TIntervalItem : public TKelvoChild {
 public:
  // Raises for an interval that is not a whole number of minutes in range (ConfigValues.h).
  TIntervalItem(TKelvo& subservice, pugi::xml_node element);

  std::chrono::minutes GetInterval() const { return FInterval; }
  // Runs the action when it is due, at most once per call; each call that finds it due advances
  // the schedule by one interval, also when the action fails (the failure is logged in debug mode).
  // After time has passed several intervals (a long blocking action), it runs on every call until
  // it has caught up.
  void CheckDue(TKelvo& subservice);
  void Tick() override { CheckDue(Subservice()); }

 protected:
  // The result is informative only.
  virtual bool DoAction(TKelvo& subservice) = 0;
  // The value template (ExpandValueTemplate) with the subservice's reading and the current time.
  static std::string ExpandTemplate(const std::string& templateText, TKelvo& subservice, TDateTime time);

 private:
  std::chrono::minutes FInterval;
  TMonotonicTime FNextRun;  // tick thread only, after construction
};

}  // namespace duz
