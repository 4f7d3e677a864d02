#include "status/MinuteHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace duz {

namespace {

bool Storable(int64_t minute) { return minute >= 0 && minute <= std::numeric_limits<int32_t>::max(); }

}  // namespace

void TMinuteHistory::Add(TDateTime time, float value) {
  const int64_t minute = MinuteOf(time);
  if (!Storable(minute) || !std::isfinite(value)) return;
  TSlot& slot = FSlots[minute % Capacity];
  if (slot.Minute != minute) slot = TSlot{static_cast<int32_t>(minute), 0, value, value, 0};
  slot.Min = std::min(slot.Min, value);
  slot.Max = std::max(slot.Max, value);
  slot.Sum += value;
  ++slot.Count;
}

void TMinuteHistory::Restore(const TMinutePoint& point) {
  if (!Storable(point.Minute)) return;
  FSlots[point.Minute % Capacity] =
      TSlot{static_cast<int32_t>(point.Minute), 1, point.Min, point.Max, point.Mean};
}

std::vector<TMinutePoint> TMinuteHistory::Points(TDateTime now) const {
  const int64_t last = MinuteOf(now);
  std::vector<TMinutePoint> points;
  for (const TSlot& slot : FSlots)
    if (slot.Count > 0 && slot.Minute <= last && slot.Minute > last - Capacity)
      points.push_back({slot.Minute, slot.Min, static_cast<float>(slot.Sum / slot.Count), slot.Max});
  std::sort(points.begin(), points.end(),
            [](const TMinutePoint& a, const TMinutePoint& b) { return a.Minute < b.Minute; });
  return points;
}

}  // namespace duz
