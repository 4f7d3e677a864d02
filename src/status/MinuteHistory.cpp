#include "status/MinuteHistory.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace duz {

namespace {

bool Storable(int64_t minute) { return minute >= 0 && minute <= std::numeric_limits<int32_t>::max(); }

float Clamped(double value) {
  return static_cast<float>(std::clamp<double>(value, -TMinuteHistory::Limit, TMinuteHistory::Limit));
}

int16_t Tenths(double value) { return static_cast<int16_t>(std::lround(Clamped(value) * 10.0)); }

float Degrees(int16_t tenths) { return static_cast<float>(tenths) / 10.0f; }

uint16_t DayTag(int64_t minute) { return static_cast<uint16_t>(minute / TMinuteHistory::Capacity); }

}  // namespace

TMinuteHistory::TSlot TMinuteHistory::Packed(int64_t minute, double min, double mean, double max) {
  return {DayTag(minute), Tenths(min), Tenths(mean), Tenths(max)};
}

bool TMinuteHistory::TSlot::Holds(int64_t minute) const { return Mean != Empty && Day == DayTag(minute); }

TMinuteHistory::TCurrent TMinuteHistory::Resumed(int32_t minute) const {
  const TSlot& slot = FSlots[minute % Capacity];
  if (!slot.Holds(minute))
    return {minute, 0, std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(), 0};
  return {minute, 1, Degrees(slot.Min), Degrees(slot.Max), Degrees(slot.Mean)};
}

void TMinuteHistory::Fold() {
  if (FCurrent.Count == 0) return;
  FSlots[FCurrent.Minute % Capacity] =
      Packed(FCurrent.Minute, FCurrent.Min, FCurrent.Sum / FCurrent.Count, FCurrent.Max);
}

void TMinuteHistory::Add(TDateTime time, float value) {
  const int64_t minute = MinuteOf(time);
  if (!Storable(minute) || !std::isfinite(value)) return;
  if (minute != FCurrent.Minute) {
    Fold();
    FCurrent = Resumed(static_cast<int32_t>(minute));
  }
  value = Clamped(value);
  FCurrent.Min = std::min(FCurrent.Min, value);
  FCurrent.Max = std::max(FCurrent.Max, value);
  FCurrent.Sum += value;
  ++FCurrent.Count;
}

void TMinuteHistory::Restore(const TMinutePoint& point) {
  if (!Storable(point.Minute)) return;
  if (point.Minute == FCurrent.Minute) FCurrent = {};  // the restored point replaces the minute
  FSlots[point.Minute % Capacity] = Packed(point.Minute, point.Min, point.Mean, point.Max);
}

std::vector<TMinutePoint> TMinuteHistory::Points(TDateTime now) const {
  const int64_t last = MinuteOf(now);
  std::vector<TMinutePoint> points;
  if (last < 0) return points;
  const auto inWindow = [last](int64_t minute) { return minute <= last && minute > last - Capacity; };
  const bool current = FCurrent.Count > 0 && inWindow(FCurrent.Minute);
  const int64_t lastDay = last / Capacity;
  for (int index = 0; index < Capacity; ++index) {
    const TSlot& slot = FSlots[index];
    if (slot.Mean == TSlot::Empty) continue;
    // The latest day up to now that bears the slot's tag.
    const int64_t minute = (lastDay - static_cast<uint16_t>(lastDay - slot.Day)) * Capacity + index;
    if (inWindow(minute) && !(current && minute == FCurrent.Minute))
      points.push_back({minute, Degrees(slot.Min), Degrees(slot.Mean), Degrees(slot.Max)});
  }
  if (current)
    points.push_back(
        {FCurrent.Minute, FCurrent.Min, static_cast<float>(FCurrent.Sum / FCurrent.Count), FCurrent.Max});
  std::sort(points.begin(), points.end(),
            [](const TMinutePoint& a, const TMinutePoint& b) { return a.Minute < b.Minute; });
  return points;
}

}  // namespace duz
