#include "net/AllowList.h"

#include <algorithm>

#include "base/Text.h"

namespace duz {

TAllowList::TAllowList(const std::vector<std::string>& hosts) : FListed(!hosts.empty()) {
  for (const std::string& host : hosts) {
    if (const std::optional<TIpAddress> address = ParseIpAddress(host))
      FAddresses.push_back(*address);
    else if (host != "~" && !host.empty())
      FNames.push_back(UpperCase(host));
  }
}

bool TAllowList::AllowsAddress(const TIpAddress& address) const {
  return std::find(FAddresses.begin(), FAddresses.end(), address) != FAddresses.end();
}

bool TAllowList::AllowsName(std::string_view verifiedName) const {
  return !verifiedName.empty() &&
         std::find(FNames.begin(), FNames.end(), UpperCase(verifiedName)) != FNames.end();
}

std::optional<std::string> TAllowList::NeverMatches(const std::string& host) {
  if (host == "~") return "an IP entry without host matches no client";
  if (host.empty()) return "an empty host matches no client";
  if (const std::optional<TIpAddress> address = ParseIpAddress(host); address && address->Family == AF_INET6)
    return "host \"" + host + "\" is an IPv6 address, and the server listens on IPv4 only";
  return std::nullopt;
}

}  // namespace duz
