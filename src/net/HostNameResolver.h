#pragma once
// THostNameResolver: the host name of a client's address as an allow list may trust it: the
// reverse name, and only when that name resolves forward to the same address again; "" when there
// is none. The system resolver blocks for as long as the name servers take, so the look-ups run one
// at a time on a worker thread of their own, started with the first, and each result is handed to
// the event loop given at construction. The watch threads never wait for it.
// Construct, call and destroy on the loop thread. The destructor does not wait for a look-up in
// progress: the worker ends when it returns, and no handler runs after the destructor.
#include <sys/socket.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace duz {

class TEventLoop;

// The check itself, blocking. A reverse name written as an address is no name.
std::string VerifiedHostName(const sockaddr* address, socklen_t size);

class THostNameResolver {
 public:
  using THandler = std::function<void(const std::string& name)>;

  explicit THostNameResolver(TEventLoop& loop);
  ~THostNameResolver();
  THostNameResolver(const THostNameResolver&) = delete;
  THostNameResolver& operator=(const THostNameResolver&) = delete;

  // Queues a look-up; the handler gets VerifiedHostName on the loop thread. Returns an id for Cancel.
  uint64_t Resolve(const sockaddr* address, socklen_t size, THandler handler);
  // The handler of that look-up will not run; a look-up not yet begun is dropped.
  void Cancel(uint64_t id);

 private:
  struct TShared;
  void Deliver(uint64_t id, const std::string& name);

  std::shared_ptr<TShared> FShared;
  std::map<uint64_t, THandler> FHandlers;
  uint64_t FNextId = 1;
};

}  // namespace duz
