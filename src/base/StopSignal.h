#pragma once
// TStopSignal: a flag that is raised once, when the process or the platform is asked to stop, for
// the pauses that a stop must cut short (a WAIT element, the tick thread's pause). Raise, Raised and
// WaitFor may be called from any thread.
#include <chrono>
#include <condition_variable>

#include "base/Mutex.h"

namespace duz {

class TStopSignal {
 public:
  void Raise();
  bool Raised() const;
  // Returns after the given time, or at once when the signal is raised; returns Raised().
  bool WaitFor(std::chrono::milliseconds time) const;

 private:
  mutable TMutex FLock;
  mutable std::condition_variable FWake;
  bool FRaised GUARDED_BY(FLock) = false;
};

}  // namespace duz
