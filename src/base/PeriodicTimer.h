#pragma once
// TPeriodicTimer: calls a handler on an owner thread's event loop every period until stopped.
// A running timer is kept alive by its own pending wait, so it belongs to nobody: whoever starts it
// may keep only a weak reference, and a timer still armed when its loop is destroyed goes with the
// loop's pending handlers. Start and Stop may be called from any thread; the handler runs on the
// loop thread. A period of zero or less never fires; the first expiry may come sooner or later than
// one period after the start.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace duz {

class TEventLoop;

class TPeriodicTimer : public std::enable_shared_from_this<TPeriodicTimer> {
  struct TPrivate {};

 public:
  // first: the time to the first expiry, one period when not given.
  static std::shared_ptr<TPeriodicTimer> Start(TEventLoop& loop, std::chrono::milliseconds period,
                                               std::function<void()> onExpiry,
                                               std::optional<std::chrono::milliseconds> first = std::nullopt);
  TPeriodicTimer(TPrivate, TEventLoop& loop, std::chrono::milliseconds period,
                 std::function<void()> onExpiry);
  ~TPeriodicTimer();

  // On the loop thread, no expiry handler runs after this; from another thread, one that is just
  // starting may still run.
  void Stop();
  bool IsRunning() const { return !FStopped; }

 private:
  void Arm(std::chrono::milliseconds delay);
  void Expired();

  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
  std::chrono::milliseconds FPeriod;
  std::function<void()> FOnExpiry;
  std::atomic<bool> FStopped{false};
};

}  // namespace duz
