#include "web/StatusChart.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/DateTime.h"
#include "base/FloatFormat.h"

namespace duz {
namespace {

// One unit of the drawing is one minute across, so that every vertex has whole coordinates: the
// page stays small (each minute is a few bytes) and the browser scales it to the panel.
constexpr int Left = 70, Width = Left + 1440 + 10, Height = 420, Top = 12, Bottom = 372;
// A limit this far from every reading would squeeze the curve into a line: it is left out (the
// panel states it in words).
constexpr double LimitReach = 10;
constexpr double MinSpan = 2;
// Far from zero a span of MinSpan is below the resolution of a double: the span grows with the
// values, so that the scale never divides by zero.
constexpr double MinRelativeSpan = 1e-6;
constexpr double MaxGridLines = 8;

struct TRange {
  double Low, High;
};

TRange ValueRange(const std::vector<TMinutePoint>& points, const std::vector<TConditionStatus>& conditions) {
  TRange data{points.front().Min, points.front().Max};
  for (const TMinutePoint& point : points) {
    data.Low = std::min<double>(data.Low, point.Min);
    data.High = std::max<double>(data.High, point.Max);
  }
  TRange range = data;
  for (const TConditionStatus& condition : conditions)
    for (const float limit : {condition.Min, condition.Max, condition.Off})
      if (limit >= data.Low - LimitReach && limit <= data.High + LimitReach) {
        range.Low = std::min<double>(range.Low, limit);
        range.High = std::max<double>(range.High, limit);
      }
  const double middle = (range.Low + range.High) / 2;
  if (const double span = std::max(MinSpan, std::abs(middle) * MinRelativeSpan);
      range.High - range.Low < span)
    range = {middle - span / 2, middle + span / 2};
  const double margin = (range.High - range.Low) * 0.05;
  return {range.Low - margin, range.High + margin};
}

// The step of the degree grid: 1, 2 or 5 times a power of ten, the smallest that draws at most
// MaxGridLines lines, whatever the range (a spike of 1e12 in a line from a failing probe included).
double GridStep(const TRange& range) {
  const double span = range.High - range.Low;
  const double power = std::pow(10.0, std::floor(std::log10(span / MaxGridLines)));
  for (const double factor : {1.0, 2.0, 5.0})
    if (span / (factor * power) <= MaxGridLines) return factor * power;
  return 10 * power;
}

// The degrees beside a grid line; a step of a million or more is written as its multiple ("5e12"),
// which fits the margin.
std::string GridLabel(double value, double step) {
  if (step < 1e6) return FormatFixed(value, 0, step < 1 ? 1 : 0);
  const int exponent = static_cast<int>(std::floor(std::log10(step)));
  return FormatFixed(value / std::pow(10.0, exponent), 0, 0) + fmt::format("e{}", exponent);
}

class TPlot {
 public:
  TPlot(int64_t lastMinute, TRange range) : FFirst(lastMinute - 1439), FRange(range) {}
  int X(int64_t minute) const { return Left + static_cast<int>(minute - FFirst); }
  int Y(double value) const {
    return static_cast<int>(
        std::lround(Bottom - (value - FRange.Low) * (Bottom - Top) / (FRange.High - FRange.Low)));
  }
  bool Shows(double value) const { return value >= FRange.Low && value <= FRange.High; }
  int64_t First() const { return FFirst; }
  const TRange& Range() const { return FRange; }

 private:
  int64_t FFirst;
  TRange FRange;
};

// A path through the vertices: the first absolute, the others relative to the one before.
class TPath {
 public:
  void To(int x, int y) {
    FData += FData.empty() ? fmt::format("M{},{}l", x, y)
                           : fmt::format("{}{},{}", FData.back() == 'l' ? "" : " ", x - FX, y - FY);
    FX = x;
    FY = y;
  }
  const std::string& Data() const { return FData; }

 private:
  std::string FData;
  int FX = 0, FY = 0;
};

std::string Grid(const TPlot& plot) {
  std::string svg;
  const double step = GridStep(plot.Range());
  // Counted in steps: far from zero, adding a step to the value may not change it.
  for (double line = std::ceil(plot.Range().Low / step); line * step <= plot.Range().High; ++line) {
    const double value = line * step;
    svg += fmt::format(R"(<line class="grid" x1="{}" x2="{}" y1="{}" y2="{}"/>)"
                       R"(<text class="axis" x="{}" y="{}" text-anchor="end">{}</text>)",
                       Left, Width, plot.Y(value), plot.Y(value), Left - 8, plot.Y(value) + 8,
                       GridLabel(value, step));
  }
  // Every third whole hour of the day.
  for (int64_t minute = (plot.First() + 179) / 180 * 180; minute < plot.First() + 1440; minute += 180)
    svg += fmt::format(R"(<text class="axis" x="{}" y="{}" text-anchor="middle">{:02}:00</text>)",
                       plot.X(minute), Height - 14, minute % 1440 / 60);
  return svg;
}

std::string Limits(const TPlot& plot, const std::vector<TConditionStatus>& conditions) {
  std::string svg;
  for (const TConditionStatus& condition : conditions)
    for (const auto& [name, value] :
         {std::pair{"min", condition.Min}, {"max", condition.Max}, {"off", condition.Off}})
      if (plot.Shows(value))
        svg += fmt::format(R"(<line class="limit {}" x1="{}" x2="{}" y1="{}" y2="{}"/>)", name, Left, Width,
                           plot.Y(value), plot.Y(value));
  return svg;
}

// One run of minutes without a long silence: its band and its mean line.
std::string Segment(const TPlot& plot, std::vector<TMinutePoint>::const_iterator begin,
                    std::vector<TMinutePoint>::const_iterator end) {
  if (end - begin == 1)
    return fmt::format(R"(<circle class="mean" cx="{}" cy="{}" r="3"/>)", plot.X(begin->Minute),
                       plot.Y(begin->Mean));
  TPath band, mean;
  for (auto point = begin; point != end; ++point) {
    band.To(plot.X(point->Minute), plot.Y(point->Max));
    mean.To(plot.X(point->Minute), plot.Y(point->Mean));
  }
  for (auto point = end; point != begin;) {
    --point;
    band.To(plot.X(point->Minute), plot.Y(point->Min));
  }
  return R"(<path class="band" d=")" + band.Data() + R"(z"/><path class="mean" d=")" + mean.Data() + R"("/>)";
}

}  // namespace

std::string RenderChart(const std::vector<TMinutePoint>& points,
                        const std::vector<TConditionStatus>& conditions, TDateTime now) {
  std::string svg = fmt::format(R"(<svg class="chart" viewBox="0 0 {} {}" role="img">)", Width, Height);
  if (points.empty())
    return svg + fmt::format(R"(<text class="empty" x="{}" y="{}" text-anchor="middle">)"
                             R"(No readings in the last 24 hours</text></svg>)",
                             Width / 2, Height / 2);
  const TPlot plot(MinuteOf(now), ValueRange(points, conditions));
  svg += Grid(plot) + Limits(plot, conditions);
  auto begin = points.begin();
  for (auto point = points.begin(); point != points.end(); ++point) {
    const auto next = std::next(point);
    if (next == points.end() || next->Minute - point->Minute > MaxJoinedGap) {
      svg += Segment(plot, begin, next);
      begin = next;
    }
  }
  return svg + "</svg>";
}

}  // namespace duz
