#pragma once
// The readings of a saved XML file (what a SAVE of type XML or XMLWA wrote), so that a new run's
// history starts where the last one ended. A pure function of the document and the time.
#include <pugixml.hpp>
#include <vector>

#include "base/DateTime.h"

namespace duz {

struct TSavedReading {
  TDateTime Time;
  float Value;
};

// The data elements of root, in document order, as attributes or child elements: `time` is the
// time of day ("hh:nn", any one separator), `value` a number with "." or ",". Entries with an
// error or anything unreadable are skipped. A file holds no dates, so the last entry is taken as
// the latest before now and an entry later in the day than the one after it as of the day before;
// entries 24 hours or more before now are left out. Oldest first.
std::vector<TSavedReading> ReadSavedReadings(pugi::xml_node root, TDateTime now);

}  // namespace duz
