#include "serial/AfComPort.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <system_error>
#include <utility>

#include "base/EventLoop.h"

namespace duz {

namespace {

constexpr auto HandOverLimit = std::chrono::milliseconds(2000);
constexpr int ReannounceMs = 200;
constexpr int IdlePollMs = 1000;  // only bounds the waits; a stop request wakes them at once

TEventLoop& CurrentLoop() {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) throw EAfComPortCoreError("No event loop on the thread that creates the port");
  return *loop;
}

speed_t SpeedOf(uint32_t baud) {
  struct TSpeed {
    uint32_t Baud;
    speed_t Speed;
  };
  static constexpr TSpeed Speeds[] = {
      {110, B110},       {300, B300},       {600, B600},       {1200, B1200},    {2400, B2400},
      {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},  {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600}};
  for (const TSpeed& speed : Speeds)
    if (speed.Baud == baud) return speed.Speed;
  return B0;
}

// Bytes waiting in the device's input queue; 0 when it cannot tell.
size_t Queued(int fd) {
  int count = 0;
  if (ioctl(fd, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<size_t>(count);
}

// Closes a device this port holds exclusively, leaving it free for the next opener.
void ReleaseDevice(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

}  // namespace

// One open period of the port, shared by its two threads and by the notifications queued on the
// owner loop, which may outlive the period and the port itself.
struct TAfComPort::TSession {
  explicit TSession(TAfComPort& port, int fd)
      : Fd(fd),
        StopFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        DataFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
        Port(&port) {}
  ~TSession() {
    if (StopFd >= 0) close(StopFd);
    if (DataFd >= 0) close(DataFd);
  }

  TAfComPort* CurrentPort() {
    std::lock_guard lock(Lock);
    return Port;
  }
  bool Pending() {
    std::lock_guard lock(Lock);
    return Handled < Posted;
  }

  const int Fd;      // the device, closed by the port after both threads have ended
  const int StopFd;  // readable once the period ends; never drained
  const int DataFd;  // wakes the writer
  std::mutex Lock;
  std::condition_variable Changed;
  TAfComPort* Port;       // guarded by Lock; nullptr once the period has ended
  bool Stopping = false;  // guarded by Lock
  uint64_t Posted = 0;    // guarded by Lock
  uint64_t Handled = 0;   // guarded by Lock
};

TAfComPort::TAfComPort(TComponent* owner, std::function<std::string(int number)> deviceOf)
    : TComponent(owner), FLoop(CurrentLoop()), FDeviceOf(std::move(deviceOf)) {}

TAfComPort::~TAfComPort() { Close(); }

void TAfComPort::SetComNumber(uint16_t value) {
  std::lock_guard lock(FOpenLock);
  bool reopen = FSession != nullptr;
  CloseLocked();
  FComNumber = value;
  if (reopen) OpenLocked();
}

void TAfComPort::SetBaudRate(uint32_t value) {
  std::lock_guard lock(FOpenLock);
  FBaudRate = value;
  if (FSession) ApplyLineSettings(FFd);
}

void TAfComPort::Open() {
  std::lock_guard lock(FOpenLock);
  OpenLocked();
}

void TAfComPort::Close() {
  std::lock_guard lock(FOpenLock);
  CloseLocked();
}

void TAfComPort::OpenLocked() {
  if (FSession) return;
  const int number = FComNumber;
  const std::string invalid = fmt::format("Invalid port number (COM{})", number);
  const std::string cannotOpen = fmt::format("Can't open device COM{}", number);
  if (number < 1) throw EAfComPortCoreError(invalid);
  std::string path;
  try {
    path = FDeviceOf(number);
  } catch (const Exception&) {
    throw EAfComPortCoreError(cannotOpen);
  }
  int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw EAfComPortCoreError(errno == ENOENT ? invalid : cannotOpen);
  // The lock keeps out openers that TIOCEXCL lets through (privileged ones, this process).
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    throw EAfComPortCoreError(cannotOpen);
  }
  if (ioctl(fd, TIOCEXCL) != 0) {
    close(fd);
    throw EAfComPortCoreError(cannotOpen);
  }
  try {
    ApplyLineSettings(fd);
  } catch (...) {
    ReleaseDevice(fd);
    throw;
  }
  auto session = std::make_shared<TSession>(*this, fd);
  {
    std::lock_guard read(FReadLock);
    FFd = fd;
  }
  {
    std::lock_guard write(FWriteLock);
    FBuffer.Clear();
    FDataFd = session->DataFd;
  }
  FSession = session;
  try {
    if (session->StopFd < 0 || session->DataFd < 0) throw std::system_error(errno, std::system_category());
    FWriterThread = std::thread(&TAfComPort::WriteQueued, this, session);
    FEventThread = std::thread(&TAfComPort::WatchEvents, this, session);
  } catch (const std::system_error&) {
    CloseLocked();
    throw EAfComPortCoreError("Error creating threads");
  }
  FOpen = true;
}

void TAfComPort::CloseLocked() {
  if (!FSession) return;
  FOpen = false;
  FClosing = true;
  {
    std::lock_guard lock(FSession->Lock);
    FSession->Stopping = true;
    FSession->Port = nullptr;
  }
  FSession->Changed.notify_all();
  if (FSession->StopFd >= 0) eventfd_write(FSession->StopFd, 1);
  if (FWriterThread.joinable()) FWriterThread.join();
  if (FEventThread.joinable()) FEventThread.join();
  tcflush(FFd, TCIOFLUSH);
  {
    std::lock_guard read(FReadLock);
    ReleaseDevice(FFd);
    FFd = -1;
  }
  {
    std::lock_guard write(FWriteLock);
    FBuffer.Clear();
    FDataFd = -1;
  }
  FSession.reset();
  FClosing = false;
}

void TAfComPort::EndSession(const std::shared_ptr<TSession>& session, const std::string& reason) {
  {
    std::lock_guard lock(FOpenLock);
    if (FSession != session) return;
  }
  // Told while the port is still open, so that whoever reopens it afterwards knows it was lost.
  if (OnPortLost) {
    try {
      OnPortLost(*this, reason);
    } catch (...) {
      // Like a data handler's failure: the loop goes on.
    }
  }
  std::lock_guard lock(FOpenLock);
  if (FSession == session) CloseLocked();
}

void TAfComPort::ApplyLineSettings(int fd) const {
  termios tio{};
  speed_t speed = SpeedOf(FBaudRate);
  if (speed == B0 || tcgetattr(fd, &tio) != 0) throw EAfComPortCoreError("Error setting parameters from DCB");
  cfmakeraw(&tio);
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0 || tcsetattr(fd, TCSANOW, &tio) != 0)
    throw EAfComPortCoreError("Error setting parameters from DCB");
  // A pseudo-terminal has no modem lines; its refusal does not matter.
  int lines = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIS, &lines);
}

size_t TAfComPort::InputCount() {
  if (FClosing) return 0;
  std::lock_guard lock(FReadLock);
  return FFd < 0 ? 0 : Queued(FFd);
}

std::string TAfComPort::ReadAvailable() {
  if (FClosing) return {};
  std::lock_guard lock(FReadLock);
  if (FFd < 0) return {};
  std::string data(std::min<size_t>(Queued(FFd), InBufSize), '\0');
  size_t got = 0;
  while (got < data.size()) {
    ssize_t n = read(FFd, data.data() + got, data.size() - got);
    if (n > 0)
      got += static_cast<size_t>(n);
    else if (n < 0 && errno == EINTR)
      continue;
    else
      break;
  }
  data.resize(got);
  if (got > 0) ++FReads;
  return data;
}

void TAfComPort::WriteString(const std::string& data) {
  if (data.empty()) return;
  std::lock_guard lock(FWriteLock);
  if (FDataFd < 0) return;
  size_t free = FBuffer.Free();
  if (!FBuffer.Put(data)) {
    std::string text = fmt::format("Write data error [requested: {}, free: {}]", data.size(), free);
    throw EAfComPortError(fmt::format("{} - {} ", text, Name()));
  }
  eventfd_write(FDataFd, 1);
}

void TAfComPort::DeliverData() {
  size_t count = InputCount();
  if (count == 0 || !OnDataRecived) return;
  try {
    OnDataRecived(*this, count);
  } catch (...) {
    // A handler's failure ends its own delivery only; the loop and the port go on.
  }
}

// Runs on the event thread. Returns false when the period ends before the owner loop took the
// notification.
bool TAfComPort::Announce(const std::shared_ptr<TSession>& session) {
  uint64_t sequence;
  {
    std::lock_guard lock(session->Lock);
    if (session->Stopping) return false;
    sequence = ++session->Posted;
  }
  FLoop.Post([session, sequence] {
    if (TAfComPort* port = session->CurrentPort()) port->DeliverData();
    {
      std::lock_guard lock(session->Lock);
      session->Handled = sequence;
    }
    session->Changed.notify_all();
  });
  std::unique_lock lock(session->Lock);
  session->Changed.wait_for(lock, HandOverLimit,
                            [&] { return session->Stopping || session->Handled >= sequence; });
  return !session->Stopping;
}

void TAfComPort::WatchEvents(std::shared_ptr<TSession> session) {
  // Quiet: announced input is still unread, or the loop has not taken the last notification yet;
  // the device stays readable then, so the thread looks at the clock instead of at the device.
  bool quiet = false;
  for (;;) {
    pollfd fds[2] = {{session->StopFd, POLLIN, 0}, {session->Fd, static_cast<short>(quiet ? 0 : POLLIN), 0}};
    int n = poll(fds, 2, quiet ? ReannounceMs : IdlePollMs);
    if (n < 0 && errno == EINTR) continue;
    if (fds[0].revents != 0) return;
    if (n < 0 || (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      // The device is gone (unplugged, or the other side of a pseudo-terminal closed). The owner
      // loop closes the port: this thread cannot join itself.
      const short events = fds[1].revents;
      std::string reason = n < 0              ? std::system_category().message(errno)
                           : events & POLLHUP ? "hang-up"
                           : events & POLLERR ? "I/O error"
                                              : "invalid descriptor";
      FLoop.Post([session, reason] {
        if (TAfComPort* port = session->CurrentPort()) port->EndSession(session, reason);
      });
      return;
    }
    bool input = (fds[1].revents & POLLIN) != 0;
    if (!input && !quiet) continue;
    bool announced = false, consumed = false;
    if (!session->Pending() && Queued(session->Fd) > 0) {
      uint64_t reads = FReads;
      if (!Announce(session)) return;
      announced = true;
      consumed = FReads != reads;
    }
    // Input that came while the handler read is new: it is announced at once, like any arrival.
    // Only input the handler left unread waits for the re-announcement.
    quiet = session->Pending() || (Queued(session->Fd) > 0 && !consumed) || (input && !announced);
  }
}

void TAfComPort::WriteQueued(std::shared_ptr<TSession> session) {
  for (;;) {
    std::string_view run;
    {
      std::lock_guard lock(FWriteLock);
      run = FBuffer.ContiguousRun();
    }
    // Only this thread removes from the buffer, and WriteString fills only its free room, so the
    // run stays valid outside the lock.
    pollfd fds[2] = {{session->StopFd, POLLIN, 0}, {session->DataFd, POLLIN, 0}};
    if (!run.empty()) {
      ssize_t n = write(session->Fd, run.data(), run.size());
      if (n > 0) {
        std::lock_guard lock(FWriteLock);
        FBuffer.Remove(static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno != EAGAIN) {
        // The device failed; the event thread sees it too and has the port closed.
        std::lock_guard lock(FWriteLock);
        FBuffer.Clear();
        continue;
      }
      fds[1] = {session->Fd, POLLOUT, 0};
    }
    if (poll(fds, 2, IdlePollMs) < 0 && errno != EINTR) return;
    if (fds[0].revents != 0) return;
    if (run.empty() && fds[1].revents != 0) {
      eventfd_t ignored;
      eventfd_read(session->DataFd, &ignored);
    }
  }
}

}  // namespace duz
