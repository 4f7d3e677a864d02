#include "core/IntervalItem.h"

#include <algorithm>

#include "base/Clock.h"
#include "config/ConfigValues.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "core/ValueTemplate.h"
#include "log/Logger.h"

namespace duz {
namespace {

// An item is first due this long after its creation, which comes before the first tick.
constexpr std::chrono::milliseconds FirstRunDelay = std::chrono::seconds(15);

}  // namespace

TIntervalItem::TIntervalItem(TKelvo& subservice, pugi::xml_node element)
    : TKelvoChild(subservice, element),
      FInterval(Interval(element)),
      // The first run comes with the first tick, also when that comes sooner.
      FNextRun(MonotonicNow() + std::min(FirstRunDelay, FirstTickDelay())) {}

void TIntervalItem::CheckDue(TKelvo& subservice) {
  if (MonotonicNow() < FNextRun) return;
  try {
    DoAction(subservice);
  } catch (const std::exception& error) {
    // A failed run (a file that cannot be written) must not stop the tick thread or the schedule.
    DebugLog(subservice.LogPrefix(), "! Exception - ", error.what());
  }
  FNextRun += FInterval;
}

std::string TIntervalItem::ExpandTemplate(const std::string& templateText, TKelvo& subservice,
                                          TDateTime time) {
  return duz::ExpandValueTemplate(templateText, {subservice.Temperature(), subservice.IsConnected(), time});
}

}  // namespace duz
