#pragma once
// The date-time format language of the program (log lines, file names, saved files, templates):
// c, d..dddddd, e/ee/g/gg, m..mmmm (minutes after an hour), yy/yyyy, h/hh, n/nn, s/ss, z/zzz, t/tt,
// am/pm, a/p, ampm, / and :, quoted text; letters case-insensitive, anything else copied.
// Names, separators and the short and long formats come from RegionalSettings().
#include <string>
#include <string_view>

#include "base/DateTime.h"

namespace duz {

std::string FormatDateTime(std::string_view format, TDateTime value);

}  // namespace duz
