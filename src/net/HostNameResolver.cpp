#include "net/HostNameResolver.h"

#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <system_error>
#include <thread>

#include "base/Clock.h"
#include "base/MutexLock.h"

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
  // One address: waiting to be looked up, being looked up, or answered.
  struct TEntry {
    std::map<uint64_t, THandler> Waiters;
    bool Started = false;
    std::optional<std::string> Answer;
    TMonotonicTime AnsweredAt;
  };

  TShared(size_t maxWaiting, size_t maxWaitingPerAddress)
      : MaxWaiting(maxWaiting), MaxWaitingPerAddress(maxWaitingPerAddress) {}

  bool Fresh(const TEntry& entry) const REQUIRES(Lock) {
    return entry.Answer && MonotonicNow() - entry.AnsweredAt < CacheTime;
  }

  // The answers beyond MaxCached, the oldest first; those still awaited stay.
  void Prune() REQUIRES(Lock) {
    while (Entries.size() > MaxCached) {
      auto oldest = Entries.end();
      for (auto it = Entries.begin(); it != Entries.end(); ++it)
        if (it->second.Answer && it->second.Waiters.empty() &&
            (oldest == Entries.end() || it->second.AnsweredAt < oldest->second.AnsweredAt))
          oldest = it;
      if (oldest == Entries.end()) return;
      Entries.erase(oldest);
    }
  }

  void Work() EXCLUDES(Lock) {
    Lock.Lock();
    while (!Closed && !Queue.empty()) {
      const TIpAddress address = Queue.front();
      Queue.pop_front();
      Entries[address].Started = true;
      Lock.Unlock();
      socklen_t size = 0;
      const sockaddr_storage socketAddress = SocketAddressOf(address, size);
      const std::string name = VerifiedHostName(reinterpret_cast<const sockaddr*>(&socketAddress), size);
      Lock.Lock();
      if (Closed) break;
      TEntry& entry = Entries[address];
      entry.Started = false;
      entry.Answer = name;
      entry.AnsweredAt = MonotonicNow();
      for (const auto& [id, handler] : entry.Waiters) {
        WaiterAddresses.erase(id);
        handler(name);
      }
      Waiting -= entry.Waiters.size();
      entry.Waiters.clear();
      Prune();
    }
    --Running;
    Lock.Unlock();
  }

  const size_t MaxWaiting, MaxWaitingPerAddress;
  TMutex Lock;
  std::map<TIpAddress, TEntry> Entries GUARDED_BY(Lock);
  std::deque<TIpAddress> Queue GUARDED_BY(Lock);  // entries to look up, in the order asked
  std::map<uint64_t, TIpAddress> WaiterAddresses GUARDED_BY(Lock);
  size_t Waiting GUARDED_BY(Lock) = 0;
  size_t Running GUARDED_BY(Lock) = 0;  // look-up threads
  uint64_t LastWaiter GUARDED_BY(Lock) = 0;
  bool Closed GUARDED_BY(Lock) = false;
};

THostNameResolver::THostNameResolver(size_t maxWaiting, size_t maxWaitingPerAddress)
    : FShared(std::make_shared<TShared>(maxWaiting, maxWaitingPerAddress)) {}

THostNameResolver::~THostNameResolver() {
  TMutexLock lock(FShared->Lock);
  FShared->Closed = true;
  FShared->Entries.clear();
  FShared->Queue.clear();
}

THostNameResolver::TOutcome THostNameResolver::Resolve(const TIpAddress& address, THandler handler) {
  TShared& shared = *FShared;
  TMutexLock lock(shared.Lock);
  TShared::TEntry& entry = shared.Entries[address];
  if (shared.Fresh(entry)) return {entry.Answer, 0};
  entry.Answer.reset();  // too old to give
  if (shared.Waiting >= shared.MaxWaiting || entry.Waiters.size() >= shared.MaxWaitingPerAddress) {
    if (entry.Waiters.empty() && !entry.Started) shared.Entries.erase(address);
    return {};
  }
  const uint64_t id = ++shared.LastWaiter;
  entry.Waiters.emplace(id, std::move(handler));
  shared.WaiterAddresses.emplace(id, address);
  ++shared.Waiting;
  if (!entry.Started && std::find(shared.Queue.begin(), shared.Queue.end(), address) == shared.Queue.end()) {
    shared.Queue.push_back(address);
    if (shared.Running < MaxLookups) {
      ++shared.Running;
      try {
        // Detached, holding what it uses: a look-up may block far longer than anyone should wait
        // for it at the end.
        std::thread([self = FShared] { self->Work(); }).detach();
      } catch (const std::system_error&) {
        --shared.Running;  // out of threads: a running one or the next Resolve takes the queue
      }
    }
  }
  return {std::nullopt, id};
}

void THostNameResolver::Cancel(uint64_t waiter) {
  TShared& shared = *FShared;
  TMutexLock lock(shared.Lock);
  const auto found = shared.WaiterAddresses.find(waiter);
  if (found == shared.WaiterAddresses.end()) return;
  const TIpAddress address = found->second;
  shared.WaiterAddresses.erase(found);
  TShared::TEntry& entry = shared.Entries[address];
  shared.Waiting -= entry.Waiters.erase(waiter);
  if (entry.Waiters.empty() && !entry.Started) {
    std::erase(shared.Queue, address);
    if (!entry.Answer) shared.Entries.erase(address);
  }
}

}  // namespace duz
