#pragma once
// The readings of a saved XML file (what a SAVE of type XML or XMLWA wrote), so that a new run's
// history starts where the last one ended. A pure function of the document and the time.
#include <cstddef>
#include <pugixml.hpp>
#include <vector>

#include "base/DateTime.h"

namespace duz {

struct TSavedReading {
  TDateTime Time;
  float Value;
};

struct TSavedReadings {
  std::vector<TSavedReading> Readings;  // oldest first
  size_t NotFinite = 0;                 // values skipped as infinite, not a number or beyond a float
};

// The data elements of root, in document order, as attributes or child elements: `time` is the
// time of day ("hh:nn", any one separator), `value` a number with "." or ",". Entries with an
// error or anything unreadable are skipped, and so are values that no thermometer line can give
// ("nan", "inf", 1e39), which would break the chart's scale. A file holds no dates, so the last
// entry is taken as the latest before now and an entry later in the day than the one after it as
// of the day before; entries 24 hours or more before now are left out.
TSavedReadings ReadSavedReadings(pugi::xml_node root, TDateTime now);

}  // namespace duz
