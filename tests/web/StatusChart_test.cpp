#include "web/StatusChart.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

const TDateTime Noon = EncodeDate(2026, 12, 7) + EncodeTime(12, 0, 0, 0);

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The vertices of each mean line, in order: one comma each.
std::vector<size_t> MeanLines(const std::string& svg) {
  std::vector<size_t> lines;
  const std::string start = R"(<path class="mean" d=")";
  for (size_t at = svg.find(start); at != std::string::npos; at = svg.find(start, at + 1)) {
    const size_t begin = at + start.size();
    lines.push_back(Count(svg.substr(begin, svg.find('"', begin) - begin), ","));
  }
  return lines;
}

std::vector<TMinutePoint> Minutes(std::initializer_list<std::pair<int, int>> runs) {
  std::vector<TMinutePoint> points;
  const int64_t noon = TMinuteHistory::MinuteOf(Noon);
  for (const auto& [first, last] : runs)
    for (int minute = first; minute <= last; ++minute) {
      const float tenths = static_cast<float>(minute) * 0.1f;
      points.push_back({noon + minute, 20.0f + tenths, 21.0f + tenths, 22.0f + tenths});
    }
  return points;
}

// One vertex per minute; a long silence breaks the line, and a lone minute still shows.
TEST(StatusChartTest, OneVertexPerMinuteAndGapsForSilences) {
  // 0-9; a silence one minute too long; 25 alone; again; 41-42; a silence just short enough; 57-60.
  const std::string svg = RenderChart(Minutes({{0, 9},
                                               {10 + MaxJoinedGap, 10 + MaxJoinedGap},
                                               {26 + MaxJoinedGap, 27 + MaxJoinedGap},
                                               {27 + 2 * MaxJoinedGap, 30 + 2 * MaxJoinedGap}}),
                                      {}, Noon + 60.0 / MinutesPerDay);
  EXPECT_EQ(MeanLines(svg), (std::vector<size_t>{10, 6})) << svg;
  EXPECT_EQ(Count(svg, R"(<circle class="mean")"), 1u);
  EXPECT_EQ(Count(svg, R"(<path class="band")"), 2u);
}

// Limits near the readings are drawn to scale; one far away would flatten the curve.
TEST(StatusChartTest, LimitLinesNearTheReadingsOnly) {
  const std::string svg =
      RenderChart(Minutes({{0, 5}}), {{stNormal, 15, 30, 100}}, Noon + 10.0 / MinutesPerDay);
  EXPECT_EQ(Count(svg, R"(<line class="limit min")"), 1u);
  EXPECT_EQ(Count(svg, R"(<line class="limit max")"), 1u);
  EXPECT_EQ(Count(svg, R"(<line class="limit off")"), 0u);
}

TEST(StatusChartTest, NoReadingsSaySo) {
  EXPECT_NE(RenderChart({}, {}, Noon).find("No readings in the last 24 hours"), std::string::npos);
}

}  // namespace
}  // namespace duz
