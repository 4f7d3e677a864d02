#include "web/StatusChart.h"

#include <gtest/gtest.h>

#include <cfloat>

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
  const int64_t noon = MinuteOf(Noon);
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

struct TExtremeCase {
  const char* Label;
  std::vector<float> Values;  // one a minute, the last in the minute of now
  std::vector<TConditionStatus> Conditions;
};

void PrintTo(const TExtremeCase& c, std::ostream* os) { *os << c.Label; }

class StatusChartExtremesTest : public ::testing::TestWithParam<TExtremeCase> {};

// A line from a failing probe may hold any float: the chart still draws a few grid lines, every
// vertex inside the drawing, in a page of bounded size.
TEST_P(StatusChartExtremesTest, AnyFloatGivesAFewGridLinesAndABoundedChart) {
  std::vector<TMinutePoint> points;
  const int64_t noon = MinuteOf(Noon);
  const auto count = static_cast<int64_t>(GetParam().Values.size());
  for (int64_t i = 0; i < count; ++i) {
    const float value = GetParam().Values[static_cast<size_t>(i)];
    points.push_back({noon - count + 1 + i, value, value, value});
  }
  const std::string svg = RenderChart(points, GetParam().Conditions, Noon);
  EXPECT_GE(Count(svg, R"(<line class="grid")"), 2u) << svg;
  EXPECT_LE(Count(svg, R"(<line class="grid")"), 9u);
  EXPECT_LT(svg.size(), 40000u);
  EXPECT_EQ(svg.find("nan"), std::string::npos);
  EXPECT_EQ(svg.find("inf"), std::string::npos);
}

std::vector<float> Normal(size_t minutes) { return std::vector<float>(minutes, 21.5f); }

std::vector<float> WithSpike(float spike) {
  std::vector<float> values = Normal(1440);
  values[700] = spike;
  return values;
}

INSTANTIATE_TEST_SUITE_P(
    Values, StatusChartExtremesTest,
    ::testing::Values(TExtremeCase{"SpikeOf1e12", WithSpike(1e12f), {{stNormal, 15, 30, 60}}},
                      TExtremeCase{"BothEndsOfTheFloatRange", {-FLT_MAX, FLT_MAX}, {}},
                      TExtremeCase{"FloatMaxOnly", {FLT_MAX, FLT_MAX}, {{stOff, -FLT_MAX, FLT_MAX, FLT_MAX}}},
                      TExtremeCase{"SmallestSteps", {21.5f, 21.5f}, {}},
                      TExtremeCase{"SpikeBelowZero", WithSpike(-3e20f), {}}),
    [](const auto& row) { return std::string(row.param.Label); });

TEST(StatusChartTest, NoReadingsSaySo) {
  EXPECT_NE(RenderChart({}, {}, Noon).find("No readings in the last 24 hours"), std::string::npos);
}

}  // namespace
}  // namespace duz
