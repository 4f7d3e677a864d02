#include "core/IntervalItem.h"

#include <algorithm>

#include "base/Clock.h"
#include "base/DebugMode.h"
#include "base/Exception.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "core/ValueTemplate.h"
#include "log/Logger.h"
#include "xml/XmlHelpers.h"

namespace duz {
namespace {

// An item is first due this long after its creation, which comes before the first tick.
constexpr double FirstRunSeconds = 15;

TDateTime ReadInterval(pugi::xml_node element) {
  int64_t minutes = GetAttrDef(element, "interval", 1).ToInt();
  // Any number of minutes from 0 up: hourly or daily runs are ordinary wishes.
  if (minutes < 0) throw ERangeError("Invalid argument to time encode");
  return static_cast<double>(minutes) / MinutesPerDay;
}

}  // namespace

TIntervalItem::TIntervalItem(TKelvo& subservice, pugi::xml_node element)
    : TKelvoChild(subservice), FElement(element), FInterval(ReadInterval(element)) {
  // The first run comes with the first tick, also when that comes sooner.
  FLastRun = Now() - FInterval + std::min(FirstRunSeconds, FirstTickDelay()) / SecondsPerDay;
}

void TIntervalItem::CheckDue(TKelvo& subservice) {
  if (FLastRun + FInterval > Now()) return;
  try {
    DoAction(subservice);
  } catch (const std::exception& error) {
    // A failed run (a file that cannot be written) must not stop the tick thread or the schedule.
    if (DebugMode) WriteLog("[" + subservice.GetCaption() + "] ! Exception - " + error.what());
  }
  FLastRun += FInterval;
}

std::string TIntervalItem::ExpandTemplate(const std::string& templateText, TKelvo& subservice,
                                          TDateTime time) {
  return duz::ExpandTemplate(templateText, {subservice.Temperature(), subservice.IsConnected(), time});
}

}  // namespace duz
