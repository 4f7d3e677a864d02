#pragma once
// TProgressMark: when a loop last went round, for a watchdog on another thread. The loop marks each
// pass; the watchdog asks how old the mark is. Lock-free between the two; any thread.
#include <atomic>

#include "base/Clock.h"

namespace duz {

class TProgressMark {
 public:
  TProgressMark() { Mark(); }
  void Mark() { FTime = MonotonicNow().time_since_epoch().count(); }
  TMonotonicTime::duration Age() const {
    return MonotonicNow() - TMonotonicTime(TMonotonicTime::duration(FTime.load()));
  }

 private:
  std::atomic<TMonotonicTime::rep> FTime;
};

}  // namespace duz
