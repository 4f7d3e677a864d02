#include "base/StopSignal.h"

#include "base/MutexLock.h"

namespace duz {

void TStopSignal::Raise() {
  {
    TMutexLock lock(FLock);
    FRaised = true;
  }
  FWake.notify_all();
}

bool TStopSignal::Raised() const {
  TMutexLock lock(FLock);
  return FRaised;
}

bool TStopSignal::WaitFor(std::chrono::milliseconds time) const {
  const auto deadline = std::chrono::steady_clock::now() + time;
  TMutexLock lock(FLock);
  while (!FRaised && FLock.WaitUntil(FWake, deadline) == std::cv_status::no_timeout) {
  }
  return FRaised;
}

}  // namespace duz
