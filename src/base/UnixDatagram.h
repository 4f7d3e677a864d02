#pragma once
// One datagram to a local AF_UNIX datagram socket, as the service manager's notification socket and
// the journal take them. Any thread.
#include <string_view>

namespace duz {

// address: a socket path, or an abstract name written with a leading '@'. Returns 0 or a positive
// errno value (EAFNOSUPPORT for any other address, ENAMETOOLONG for one that does not fit,
// EMSGSIZE for a payload larger than the socket takes in one datagram). Blocks while the receiver's
// queue is full, as the service manager's and the journal's own clients do.
int SendUnixDatagram(std::string_view address, std::string_view payload);

}  // namespace duz
