#pragma once
// THostNameResolver: the host name of a client's address as an allow list may trust it: the
// reverse name, and only when that name resolves forward to the same address again; "" when there
// is none. The system resolver blocks for as long as the name servers take, so the look-ups run on
// threads of their own, at most MaxLookups at once, started as needed and ended when idle. A
// look-up of an address already under way is joined, not repeated, and its answer is kept for
// CacheTime (on the settable monotonic clock). Whoever waits for an answer sets its own deadline
// and cancels when it passes; the waiters are bounded (maxWaiting overall, maxWaitingPerAddress for
// one address), so that clients whose names take long can hold only so many connections.
// Any thread may call. The destructor does not wait for a look-up in progress: its thread ends when
// the look-up returns, and no handler runs once the destructor, or Cancel of that waiter, returned.
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "net/HostAddress.h"

namespace duz {

// The check itself, blocking. A reverse name written as an address is no name.
std::string VerifiedHostName(const sockaddr* address, socklen_t size);

class THostNameResolver {
 public:
  static constexpr size_t MaxLookups = 4;
  static constexpr std::chrono::seconds CacheTime{60};
  // Answers kept at most; beyond, the oldest go first.
  static constexpr size_t MaxCached = 1024;

  // Runs once with the answer, on a look-up thread while the resolver's lock is held: it should
  // only hand the answer on (TEventLoop::Post, a condition variable).
  using THandler = std::function<void(const std::string& name)>;

  // The outcome of Resolve: the answer at once from the cache, or the id of the waiter whose
  // handler will run, or neither when too many wait already.
  struct TOutcome {
    std::optional<std::string> Cached;
    uint64_t Waiter = 0;
  };

  THostNameResolver(size_t maxWaiting, size_t maxWaitingPerAddress);
  ~THostNameResolver();
  THostNameResolver(const THostNameResolver&) = delete;
  THostNameResolver& operator=(const THostNameResolver&) = delete;

  TOutcome Resolve(const TIpAddress& address, THandler handler);
  // The handler of that waiter will not run; a look-up nobody waits for any more and that has not
  // begun is dropped.
  void Cancel(uint64_t waiter);

 private:
  struct TShared;

  const std::shared_ptr<TShared> FShared;  // shared with the look-up threads
};

}  // namespace duz
