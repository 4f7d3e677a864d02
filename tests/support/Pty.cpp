#include "support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace duz::test {

TPty::TPty() {
  char name[256];
  struct termios raw {};
  cfmakeraw(&raw);
  if (openpty(&FMaster, &FSlave, name, &raw, nullptr) != 0) throw std::runtime_error("openpty failed");
  // A program the test starts must not hold the master open: HangUp would not hang up.
  fcntl(FMaster, F_SETFD, FD_CLOEXEC);
  fcntl(FSlave, F_SETFD, FD_CLOEXEC);
  FSlavePath = name;
}

TPty::~TPty() {
  HangUp();
  if (FSlave >= 0) close(FSlave);
}

void TPty::Write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(FMaster, bytes.data() + done, bytes.size() - done);
    if (n <= 0) throw std::runtime_error("pty write failed");
    done += static_cast<size_t>(n);
  }
}

std::string TPty::Read(std::chrono::milliseconds timeout) {
  std::string result;
  pollfd pfd{FMaster, POLLIN, 0};
  if (poll(&pfd, 1, static_cast<int>(timeout.count())) <= 0) return result;
  char buffer[4096];
  ssize_t n = read(FMaster, buffer, sizeof buffer);
  if (n > 0) result.assign(buffer, static_cast<size_t>(n));
  return result;
}

void TPty::HangUp() {
  if (FMaster >= 0) close(FMaster);
  FMaster = -1;
}

}  // namespace duz::test
