#pragma once
// The running service module's event-log channel, reachable from the platform tree. Set by the
// service host while it runs; nullptr in debug mode.
#include <atomic>
#include <cstdint>
#include <string>

namespace duz {

class TServiceEvents {
 public:
  virtual ~TServiceEvents() = default;
  virtual void ReportServiceEvent(const std::string& text, uint32_t type, uint32_t category,
                                  int32_t eventId) = 0;
};

inline std::atomic<TServiceEvents*> ServiceInstance{nullptr};

}  // namespace duz
