#pragma once
// TIntervalItem: the base of the periodic actions of a thermometer (file savers, HTTP posters).
// Owned by its TKelvo. Reads `interval` (whole minutes, default 1) once at construction; the first
// run is due 15 s after construction, later runs on a schedule anchored there. The tick thread
// calls Tick (CheckDue) about once per second; DoAction runs on that thread.
#include <pugixml.hpp>
#include <string>

#include "base/DateTime.h"
#include "core/KelvoChild.h"

namespace duz {

class TIntervalItem : public TKelvoChild {
 public:
  // Raises "Invalid argument to time encode" for a negative interval, the conversion error for
  // one that is not a whole number.
  TIntervalItem(TKelvo& subservice, pugi::xml_node element);

  TDateTime GetInterval() const { return FInterval; }
  // Runs the action when it is due, at most once per call; each call that finds it due advances
  // the schedule by one interval, also when the action fails (the failure is logged in debug mode).
  void CheckDue(TKelvo& subservice);
  void Tick() override { CheckDue(Subservice()); }

 protected:
  // The result is informative only.
  virtual bool DoAction(TKelvo& subservice) = 0;
  pugi::xml_node Element() const { return FElement; }
  // The template with the subservice's reading and the current time.
  static std::string ExpandTemplate(const std::string& templateText, TKelvo& subservice, TDateTime time);

 private:
  pugi::xml_node FElement;
  TDateTime FLastRun;   // scheduled time of the last run
  TDateTime FInterval;  // days
};

}  // namespace duz
