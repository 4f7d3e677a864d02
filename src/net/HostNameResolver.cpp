#include "net/HostNameResolver.h"

#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "base/EventLoop.h"

namespace duz {
namespace {

bool SameAddress(const sockaddr* a, const sockaddr* b) {
  if (a->sa_family != b->sa_family) return false;
  if (a->sa_family == AF_INET)
    return reinterpret_cast<const sockaddr_in*>(a)->sin_addr.s_addr ==
           reinterpret_cast<const sockaddr_in*>(b)->sin_addr.s_addr;
  if (a->sa_family == AF_INET6)
    return std::memcmp(&reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr,
                       &reinterpret_cast<const sockaddr_in6*>(b)->sin6_addr, sizeof(in6_addr)) == 0;
  return false;
}

}  // namespace

std::string VerifiedHostName(const sockaddr* address, socklen_t size) {
  char host[NI_MAXHOST];
  if (getnameinfo(address, size, host, sizeof host, nullptr, 0, NI_NAMEREQD) != 0) return "";
  addrinfo hints{};
  hints.ai_family = address->sa_family;
  hints.ai_socktype = SOCK_STREAM;
  // A reverse record that reads "10.9.9.9" would otherwise "resolve" to that very address.
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) == 0) {
    freeaddrinfo(found);
    return "";
  }
  hints.ai_flags = 0;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0) return "";
  bool confirmed = false;
  for (const addrinfo* entry = found; entry && !confirmed; entry = entry->ai_next)
    confirmed = SameAddress(entry->ai_addr, address);
  freeaddrinfo(found);
  return confirmed ? host : "";
}

struct THostNameResolver::TShared {
  struct TRequest {
    uint64_t Id;
    sockaddr_storage Address;
    socklen_t Size;
  };

  void Work() {
    std::unique_lock lock(Lock);
    for (;;) {
      Wake.wait(lock, [this] { return !Loop || !Requests.empty(); });
      if (!Loop) return;
      TRequest request = Requests.front();
      Requests.pop_front();
      lock.unlock();
      std::string name = VerifiedHostName(reinterpret_cast<const sockaddr*>(&request.Address), request.Size);
      lock.lock();
      if (!Loop) return;
      Loop->Post([self = Self.lock(), id = request.Id, name] {
        // On the loop thread, like the destructor: Owner is either alive or nullptr here.
        if (self && self->Owner) self->Owner->Deliver(id, name);
      });
    }
  }

  std::weak_ptr<TShared> Self;
  std::mutex Lock;
  std::condition_variable Wake;
  // Guarded by Lock. Loop and Owner are nullptr once the resolver is gone.
  TEventLoop* Loop;
  THostNameResolver* Owner;
  std::deque<TRequest> Requests;
  bool Started = false;
};

THostNameResolver::THostNameResolver(TEventLoop& loop) : FShared(std::make_shared<TShared>()) {
  FShared->Self = FShared;
  FShared->Loop = &loop;
  FShared->Owner = this;
}

THostNameResolver::~THostNameResolver() {
  {
    std::lock_guard lock(FShared->Lock);
    FShared->Loop = nullptr;
    FShared->Owner = nullptr;
    FShared->Requests.clear();
  }
  FShared->Wake.notify_all();
}

uint64_t THostNameResolver::Resolve(const sockaddr* address, socklen_t size, THandler handler) {
  const uint64_t id = FNextId++;
  TShared::TRequest request{id, {}, std::min<socklen_t>(size, sizeof(sockaddr_storage))};
  std::memcpy(&request.Address, address, request.Size);
  FHandlers.emplace(id, std::move(handler));
  {
    std::lock_guard lock(FShared->Lock);
    FShared->Requests.push_back(request);
    if (!std::exchange(FShared->Started, true))
      // Detached: a look-up may block far longer than anyone should wait for it at the end.
      std::thread([shared = FShared] { shared->Work(); }).detach();
  }
  FShared->Wake.notify_all();
  return id;
}

void THostNameResolver::Cancel(uint64_t id) {
  FHandlers.erase(id);
  std::lock_guard lock(FShared->Lock);
  std::erase_if(FShared->Requests, [id](const TShared::TRequest& request) { return request.Id == id; });
}

void THostNameResolver::Deliver(uint64_t id, const std::string& name) {
  auto found = FHandlers.find(id);
  if (found == FHandlers.end()) return;
  THandler handler = std::move(found->second);
  FHandlers.erase(found);
  handler(name);
}

}  // namespace duz
