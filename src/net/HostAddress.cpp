#include "net/HostAddress.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace duz {
namespace {

TIpAddress Folded(TIpAddress address) {
  if (address.Family == AF_INET6 &&
      IN6_IS_ADDR_V4MAPPED(reinterpret_cast<const in6_addr*>(address.Bytes.data()))) {
    TIpAddress plain{AF_INET};
    std::copy_n(address.Bytes.begin() + 12, 4, plain.Bytes.begin());
    return plain;
  }
  return address;
}

}  // namespace

std::optional<TIpAddress> ParseIpAddress(const std::string& text) {
  for (const int family : {AF_INET, AF_INET6}) {
    TIpAddress address{family};
    if (inet_pton(family, text.c_str(), address.Bytes.data()) == 1) return Folded(address);
  }
  return std::nullopt;
}

TIpAddress IpAddressOf(const sockaddr* address) {
  TIpAddress result{address->sa_family};
  if (address->sa_family == AF_INET)
    std::memcpy(result.Bytes.data(), &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
  else if (address->sa_family == AF_INET6)
    std::memcpy(result.Bytes.data(), &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
  else
    result.Family = AF_UNSPEC;
  return Folded(result);
}

sockaddr_storage SocketAddressOf(const TIpAddress& address, socklen_t& size) {
  sockaddr_storage storage{};
  if (address.Family == AF_INET) {
    auto& in = reinterpret_cast<sockaddr_in&>(storage);
    in.sin_family = AF_INET;
    std::memcpy(&in.sin_addr, address.Bytes.data(), 4);
    size = sizeof in;
  } else {
    auto& in6 = reinterpret_cast<sockaddr_in6&>(storage);
    in6.sin6_family = AF_INET6;
    std::memcpy(&in6.sin6_addr, address.Bytes.data(), 16);
    size = sizeof in6;
  }
  return storage;
}

bool IsIpAddress(const std::string& host) {
  unsigned char address[sizeof(in6_addr)];
  return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

bool IsIpv4Address(const std::string& text) {
  in_addr address{};
  return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

std::string AddressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = "";
  const void* raw = address->sa_family == AF_INET6
                        ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr)
                        : static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(address)->sin_addr);
  inet_ntop(address->sa_family, raw, text, sizeof text);
  return text;
}

bool IsLoopback(const sockaddr* address) {
  if (address->sa_family == AF_INET)
    return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
  return address->sa_family == AF_INET6 &&
         IN6_IS_ADDR_LOOPBACK(&reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr);
}

std::string LocalHostName() {
  char name[256] = "";
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace duz
