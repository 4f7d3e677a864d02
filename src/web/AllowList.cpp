#include "web/AllowList.h"

#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <optional>

namespace duz {
namespace {

struct TAddress {
  int Family;
  std::array<unsigned char, sizeof(in6_addr)> Bytes{};
  bool operator==(const TAddress&) const = default;
};

// Compared as addresses, not texts: "::1" and "0:0::1" are one client.
std::optional<TAddress> ParseAddress(const std::string& text) {
  for (int family : {AF_INET, AF_INET6}) {
    TAddress address{family};
    if (inet_pton(family, text.c_str(), address.Bytes.data()) == 1) return address;
  }
  return std::nullopt;
}

}  // namespace

bool IsAllowedClient(const std::vector<std::string>& hosts, const std::string& clientAddress) {
  if (hosts.empty()) return true;
  const std::optional<TAddress> client = ParseAddress(clientAddress);
  return client && std::any_of(hosts.begin(), hosts.end(),
                               [&](const std::string& host) { return ParseAddress(host) == client; });
}

}  // namespace duz
