#pragma once
// TShutdownTimers: the shutdown timers of one platform's conditions. A condition that enters the off
// state arms one on the owner thread's event loop on its own behalf; its end stops its own, and the
// shutdown stops all of them before it frees the conditions. The status board shows when the first
// armed one is due. Owned by the platform; owner thread only, like the timers' handlers.
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "base/Clock.h"

namespace duz {

class TComponent;
class TPeriodicTimer;
class TStatusBoard;

class TShutdownTimers {
 public:
  explicit TShutdownTimers(TStatusBoard& board) : FBoard(board) {}
  ~TShutdownTimers() { Stop(); }
  TShutdownTimers(const TShutdownTimers&) = delete;
  TShutdownTimers& operator=(const TShutdownTimers&) = delete;

  // Arms a periodic timer on the calling thread's event loop that calls onExpiry every period, on
  // behalf of owner. Raises when the thread has no event loop.
  void Start(const TComponent* owner, std::chrono::milliseconds period, std::function<void()> onExpiry);
  // Stops the timers of owner, or every one when owner is nullptr.
  void Stop(const TComponent* owner = nullptr);
  // The timers still armed.
  int Running() const;

 private:
  struct TTimer {
    const TComponent* Owner;
    std::weak_ptr<TPeriodicTimer> Timer;
    TMonotonicTime Due;  // the first expiry; a shutdown that failed is tried again at each period
  };

  void ShowDue();

  TStatusBoard& FBoard;
  std::vector<TTimer> FTimers;
};

}  // namespace duz
