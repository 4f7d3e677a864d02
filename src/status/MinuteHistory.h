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
  // A past minute keeps its points in tenths of a degree, a Kelvo reading's resolution, in 16 bits:
  // a reading beyond this is taken as this edge (the chart shows it there).
  static constexpr float Limit = 3276.7f;

  // A reading replaces whatever its slot held from a minute a day or more away. One that is not a
  // finite number is left out: the chart could not scale it; so is one dated before 1899-12-30 or
  // after the year 5900. The minute receiving readings keeps an exact mean; a minute left and
  // taken up again (the clock was set back) counts its kept mean as one reading.
  void Add(TDateTime time, float value);
  // A point that Points() gave, as the one reading of its minute (a reading added later in the same
  // minute weighs as much in its mean).
  void Restore(const TMinutePoint& point);
  // The minutes of the 24 hours up to and including the minute of now that hold readings, oldest
  // first. Minutes after now (the clock was set back) are left out.
  std::vector<TMinutePoint> Points(TDateTime now) const;

 private:
  // The minute receiving readings, folded into its slot when a reading of another minute arrives.
  struct TCurrent {
    int32_t Minute = -1;  // 32 bits reach the year 5900
    uint32_t Count = 0;
    float Min = 0, Max = 0;
    double Sum = 0;
  };
  // 8 bytes, not 24: a service watching many thermometers holds 1,440 of these for each. The
  // slot's index is the minute of the day, Day the day number modulo 65,536.
  struct TSlot {
    static constexpr int16_t Empty = INT16_MIN;  // Mean: never filled

    uint16_t Day = 0;
    int16_t Min = 0, Mean = Empty, Max = 0;

    bool Holds(int64_t minute) const;
  };
  static_assert(sizeof(TSlot) == 8);

  static TSlot Packed(int64_t minute, double min, double mean, double max);
  TCurrent Resumed(int32_t minute) const;
  void Fold();

  std::array<TSlot, Capacity> FSlots;
  TCurrent FCurrent;
};

}  // namespace duz
