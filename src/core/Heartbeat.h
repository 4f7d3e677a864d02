#pragma once
// THeartbeat: the dead-man's switch of a HEARTBEAT element. Every interval it has an outbox GET its
// url while the watch is healthy, and its fail URL while it is not, so that an outside checker
// alarms when the pings stop or fail. Healthy: the tick loop goes round (the heartbeat runs on it),
// the owner thread's loop has answered within the last MaxOwnerSilenceTicks ticks, and every
// thermometer is connected. A ping is tried once: while one is on its way no other is queued, and one
// that fails waits for the next interval. The first failure after a success (or the start) is an
// event-log warning.
// Owned by the platform; created on the owner thread, whose loop it asks; Tick on the tick thread.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <pugixml.hpp>

#include "base/Clock.h"
#include "net/HttpRequest.h"

namespace duz {

class TEventLoop;
class TOutbox;
struct THeartbeatState;

struct THeartbeatPings {
  THttpRequest Healthy;  // url
  THttpRequest Failing;  // failurl, by default url + "/fail"
};

class THeartbeat {
 public:
  static constexpr uint64_t MaxOwnerSilenceTicks = 10;

  // Raises for attribute values that do not convert or are out of range, and when the calling thread
  // has no event loop.
  THeartbeat(pugi::xml_node element, TOutbox& outbox);
  ~THeartbeat();

  // About once a second.
  void Tick(bool thermometersConnected);

  // The two GETs of a HEARTBEAT element; raises as the constructor does.
  static THeartbeatPings ReadPings(pugi::xml_node element);

 private:
  THeartbeatPings FPings;
  std::chrono::minutes FInterval;
  TOutbox& FOutbox;
  TEventLoop& FOwnerLoop;
  std::shared_ptr<THeartbeatState> FState;  // shared with the pings on their way and the owner loop
  // Tick thread only.
  uint64_t FTicks = 0;
  std::optional<TMonotonicTime> FLastPing;
};

}  // namespace duz
