#include "base/UnixDatagram.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace duz {

int SendUnixDatagram(std::string_view address, std::string_view payload) {
  sockaddr_un peer{};
  peer.sun_family = AF_UNIX;
  if (address.empty() || (address[0] != '/' && address[0] != '@')) return EAFNOSUPPORT;
  if (address.size() >= sizeof peer.sun_path) return ENAMETOOLONG;
  std::memcpy(peer.sun_path, address.data(), address.size());
  if (peer.sun_path[0] == '@') peer.sun_path[0] = '\0';
  // An abstract name is counted by its length, not ended by a NUL.
  const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + address.size());
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  // A datagram goes whole or not at all.
  const int error = sendto(fd, payload.data(), payload.size(), MSG_NOSIGNAL,
                           reinterpret_cast<const sockaddr*>(&peer), length) < 0
                        ? errno
                        : 0;
  close(fd);
  return error;
}

}  // namespace duz
