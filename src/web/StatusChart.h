#pragma once
// The chart of one thermometer's last 24 hours on the status page, as inline SVG drawn here, so
// that the page needs no script and nothing from elsewhere: per minute the band from the lowest to
// the highest reading and the mean as a line (one vertex per minute), the limit lines of its
// conditions, the hours below and the degrees beside. A silence of more than MaxJoinedGap minutes
// breaks the line; a lone minute is a dot. A function of its arguments and of the regional decimal
// separator, which writes the degrees.
#include <string>
#include <vector>

#include "status/KelvoStatus.h"

namespace duz {

constexpr int MaxJoinedGap = 15;

// points: oldest first, none after the minute of now.
std::string RenderChart(const std::vector<TMinutePoint>& points,
                        const std::vector<TConditionStatus>& conditions, TDateTime now);

}  // namespace duz
