#include "base/PeriodicTimer.h"

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include "base/EventLoop.h"

namespace duz {

struct TPeriodicTimer::TImpl {
  explicit TImpl(TEventLoop& loop) : Timer(loop.Context()) {}
  asio::steady_timer Timer;
};

TPeriodicTimer::TPeriodicTimer(TPrivate, TEventLoop& loop, std::chrono::milliseconds period,
                               std::function<void()> onExpiry)
    : FImpl(std::make_unique<TImpl>(loop)), FPeriod(period), FOnExpiry(std::move(onExpiry)) {}

TPeriodicTimer::~TPeriodicTimer() = default;

std::shared_ptr<TPeriodicTimer> TPeriodicTimer::Start(TEventLoop& loop, std::chrono::milliseconds period,
                                                      std::function<void()> onExpiry,
                                                      std::optional<std::chrono::milliseconds> first) {
  auto timer = std::make_shared<TPeriodicTimer>(TPrivate{}, loop, period, std::move(onExpiry));
  if (period > std::chrono::milliseconds::zero())
    // Armed on the loop thread: asio timers are not safe to touch from two threads.
    asio::post(timer->FImpl->Timer.get_executor(),
               [timer, delay = first.value_or(period)] { timer->Arm(delay); });
  else
    timer->FStopped = true;
  return timer;
}

void TPeriodicTimer::Stop() {
  if (FStopped.exchange(true)) return;
  asio::post(FImpl->Timer.get_executor(), [self = shared_from_this()] { self->FImpl->Timer.cancel(); });
}

void TPeriodicTimer::Arm(std::chrono::milliseconds delay) {
  if (FStopped) return;
  FImpl->Timer.expires_after(delay);
  FImpl->Timer.async_wait([self = shared_from_this()](const std::error_code& error) {
    if (!error) self->Expired();
  });
}

void TPeriodicTimer::Expired() {
  if (FStopped) return;
  try {
    FOnExpiry();
  } catch (...) {
    // The loop serves everyone else; a failed call is simply tried again at the next expiry.
  }
  Arm(FPeriod);
}

}  // namespace duz
