#pragma once
// TShutdownTimers: the shutdown timers of one platform. A condition that enters the off state arms one
// on the owner thread's event loop, and a start arms again those that the previous run left armed.
// Once armed, a timer runs until the shutdown (which stops all of them before it frees the
// conditions) or the platform's end: neither leaving the off state nor a reload that drops its
// condition cancels it. At each expiry it calls the shutdown with the configuration root it was armed
// with, which a reload moves to the new configuration's. The status board shows when the first
// armed one is due. Owned by the platform. Start, Stop, MoveTo and the expiries on the owner thread;
// Armed and Running on any thread.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <pugixml.hpp>
#include <vector>

#include "base/Clock.h"
#include "base/Mutex.h"

namespace duz {

class TPeriodicTimer;
class TStatusBoard;

class TShutdownTimers {
 public:
  using TShutdown = std::function<void(pugi::xml_node root)>;

  struct TArmed {
    TMonotonicTime Due;  // the first expiry; a shutdown that failed is tried again at each period
    std::chrono::milliseconds Period;
  };

  TShutdownTimers(TStatusBoard& board, TShutdown shutdown) : FBoard(board), FShutdown(std::move(shutdown)) {}
  ~TShutdownTimers() { Stop(); }
  TShutdownTimers(const TShutdownTimers&) = delete;
  TShutdownTimers& operator=(const TShutdownTimers&) = delete;

  // Arms a periodic timer on the calling thread's event loop that shuts down with root every period,
  // the first time after first (one period when not given). Raises when the thread has no event loop.
  void Start(pugi::xml_node root, std::chrono::milliseconds period,
             std::optional<std::chrono::milliseconds> first = std::nullopt);
  void Stop();
  // The timers armed with root from are armed with to from now on.
  void MoveTo(pugi::xml_node from, pugi::xml_node to);
  // The timers still armed.
  std::vector<TArmed> Armed() const;
  int Running() const { return static_cast<int>(Armed().size()); }

 private:
  struct TTimer {
    uint64_t Id;
    std::weak_ptr<TPeriodicTimer> Timer;
    TArmed Armed;
    pugi::xml_node Root;
  };

  void Expired(uint64_t id);
  void ShowDue() REQUIRES(FLock);

  TStatusBoard& FBoard;
  const TShutdown FShutdown;
  mutable TMutex FLock;
  std::vector<TTimer> FTimers GUARDED_BY(FLock);
  uint64_t FLastId = 0;  // owner thread only
};

}  // namespace duz
