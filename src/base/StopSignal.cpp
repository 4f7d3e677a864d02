#include "base/StopSignal.h"

namespace duz {

void TStopSignal::Raise() {
  {
    std::lock_guard lock(FLock);
    FRaised = true;
  }
  FWake.notify_all();
}

bool TStopSignal::Raised() const {
  std::lock_guard lock(FLock);
  return FRaised;
}

bool TStopSignal::WaitFor(std::chrono::milliseconds time) const {
  std::unique_lock lock(FLock);
  return FWake.wait_for(lock, time, [this] { return FRaised; });
}

}  // namespace duz
