#pragma once
// TAllowList: whom a server serves, from the `host` of its IP children. A host that is a literal
// IPv4 or IPv6 address matches that address only (an IPv4 address written or seen as
// ::ffff:a.b.c.d is the IPv4 address); "~" (the default of a missing host) and an empty host match
// no one; any other host is a name, which matches only a client whose verified host name
// (THostNameResolver: the reverse name, resolving back to the client's address) it is, in any
// case. The reverse name alone, which whoever owns the address controls, counts for nothing.
// Without entries every client is served. The one list of the TCP data server and the metrics
// server; a pure value, any thread.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/HostAddress.h"

namespace duz {

class TAllowList {
 public:
  // Why a server refuses a client, for its debug log.
  static constexpr const char* NotListed = "not listed";
  static constexpr const char* NotConfirmed = "name not confirmed";
  static constexpr const char* NotConfirmedInTime = "name not confirmed in time";
  static constexpr const char* TooManyChecks = "too many pending name checks";

  explicit TAllowList(const std::vector<std::string>& hosts);

  bool AllowsEveryone() const { return !FListed; }
  bool AllowsAddress(const TIpAddress& address) const;
  // Whether an entry is a name, so that a client not allowed by address may still be by name.
  bool HasNames() const { return !FNames.empty(); }
  bool AllowsName(std::string_view verifiedName) const;
  const std::vector<TIpAddress>& Addresses() const { return FAddresses; }

  // Why the host of an entry can never match a client of a server that listens on IPv4 only;
  // nothing when it can.
  static std::optional<std::string> NeverMatches(const std::string& host);

 private:
  bool FListed = false;
  std::vector<TIpAddress> FAddresses;
  std::vector<std::string> FNames;  // upper-cased
};

}  // namespace duz
