#pragma once
// TMinuteHistory: the last 24 hours of one thermometer's readings, one point per minute (the
// lowest, mean and highest reading of that minute) in a fixed ring of 1,440 slots, so that adding
// a reading is O(1) and the memory is bounded whatever the rate of lines. A plain value: its owner
// (TKelvoStatus) guards it, and readers get a copy.
#include <array>
#include <cstdint>
#include <vector>

#include "base/DateTime.h"

namespace duz {

struct TMinutePoint {
  int64_t Minute = 0;  // whole minutes since 1899-12-30 00:00, local time
  float Min = 0, Mean = 0, Max = 0;

  TDateTime Time() const { return static_cast<double>(Minute) / MinutesPerDay; }
};

class TMinuteHistory {
 public:
  static constexpr int Capacity = 1440;

  // A reading replaces whatever its slot held from a minute a day or more away. One that is not a
  // finite number is left out: the chart could not scale it; so is one dated before 1899-12-30 or
  // after the year 5900.
  void Add(TDateTime time, float value);
  // A point that Points() gave, as the one reading of its minute (a reading added later in the same
  // minute weighs as much in its mean).
  void Restore(const TMinutePoint& point);
  // The minutes of the 24 hours up to and including the minute of now that hold readings, oldest
  // first. Minutes after now (the clock was set back) are left out.
  std::vector<TMinutePoint> Points(TDateTime now) const;

 private:
  // 24 bytes, not 32: a service watching many thermometers holds 1,440 of these for each.
  struct TSlot {
    int32_t Minute = -1;  // -1: never filled; 32 bits reach the year 5900
    uint32_t Count = 0;
    float Min = 0, Max = 0;
    double Sum = 0;
  };
  static_assert(sizeof(TSlot) == 24);
  std::array<TSlot, Capacity> FSlots;
};

}  // namespace duz
