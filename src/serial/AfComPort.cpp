#include "serial/AfComPort.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <system_error>

#include "base/EventLoop.h"
#include "serial/AfCircularBuffer.h"
#include "xml/Registry.h"

namespace duz {

namespace {

constexpr auto Reannounce = std::chrono::milliseconds(200);

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

// Why the device can no longer be used, or "" while it can.
std::string Loss(int fd) {
  pollfd device{fd, POLLIN, 0};
  if (poll(&device, 1, 0) < 0) return errno == EINTR ? "" : std::system_category().message(errno);
  return device.revents & POLLHUP    ? "hang-up"
         : device.revents & POLLERR  ? "I/O error"
         : device.revents & POLLNVAL ? "invalid descriptor"
                                     : "";
}

// Closes a device this port holds exclusively, leaving it free for the next opener.
void ReleaseDevice(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

}  // namespace

std::string ComDevicePath(int number) {
  std::string device =
      ReadRegistryString(R"(SOFTWARE\Quellix\Duzezevovivo\ComPorts)", fmt::format("COM{}", number));
  return device.empty() ? fmt::format("/dev/ttyS{}", number - 1) : device;
}

// One open period of the port. The handlers waiting on the owner loop share it, so it may outlive
// the period and the port itself; once the period has ended they find Port empty and stop.
// The waits are on an edge-triggered descriptor: each handler reads or writes what it can before it
// waits again, and waits are armed on the loop thread only, so that no edge passes unseen.
struct TAfComPort::TSession : std::enable_shared_from_this<TSession> {
  TSession(TAfComPort& port, asio::io_context& context, int fd)
      : Fd(fd), Port(&port), Device(context, fd), Retry(context) {}

  // Loop thread: the first look at the device, then the waits.
  void Start();
  // Loop thread: reads into the receive buffer and announces what it holds.
  void TakeInput();
  // Loop thread: closes the port if the device is gone, else waits for the next sign of it.
  void CheckDevice();
  // Loop thread, under Lock: writes from the ring buffer until it is empty or the device is full.
  void Flush();
  // Under Lock: the period ends; the device is released and nothing queued is kept.
  void End();

  const int Fd;
  std::mutex Lock;
  TAfComPort* Port;                       // guarded by Lock; nullptr once the period has ended
  asio::posix::stream_descriptor Device;  // guarded by Lock
  asio::steady_timer Retry;               // the re-announcement of unread input; guarded by Lock
  std::array<char, InBufSize> Input{};    // guarded by Lock
  size_t InputSize = 0;                   // guarded by Lock
  TAfCircularBuffer Output{OutBufSize};   // guarded by Lock
  bool WaitingForRoom = false;            // guarded by Lock

 private:
  // Under Lock: reads what fits into the receive buffer.
  void Fill();
  void WaitForInput();
};

void TAfComPort::TSession::Start() {
  CheckDevice();
  TakeInput();
}

void TAfComPort::TSession::Fill() {
  const size_t room = Input.size() - InputSize;
  if (room == 0) return;
  ssize_t n;
  do n = read(Fd, Input.data() + InputSize, room);
  while (n < 0 && errno == EINTR);
  // Nothing now (a raw line with nothing to read gives 0), or a hang-up, which CheckDevice sees.
  if (n > 0) InputSize += static_cast<size_t>(n);
}

void TAfComPort::TSession::WaitForInput() {
  Device.async_wait(asio::posix::stream_descriptor::wait_read,
                    [self = shared_from_this()](const std::error_code& error) {
                      if (!error) self->TakeInput();
                    });
}

void TAfComPort::TSession::TakeInput() {
  TAfComPort* port;
  size_t count;
  {
    std::lock_guard lock(Lock);
    if (!Port) return;
    port = Port;
    Fill();
    count = InputSize;
    if (count == 0) return WaitForInput();
  }
  if (port->OnDataRecived) {
    try {
      port->OnDataRecived(*port, count);
    } catch (...) {
      // A handler's failure ends its own delivery only; the loop and the port go on.
    }
  }
  std::lock_guard lock(Lock);
  if (!Port) return;  // the handler closed the port
  if (InputSize > 0) {
    // Left unread: the device is not read meanwhile, so a handler that never reads does not spin.
    Retry.expires_after(Reannounce);
    Retry.async_wait([self = shared_from_this()](const std::error_code& error) {
      if (!error) self->TakeInput();
    });
  } else if (count == Input.size()) {
    // The buffer was full: what stayed in the device has no edge left to announce it.
    asio::post(Device.get_executor(), [self = shared_from_this()] { self->TakeInput(); });
  } else {
    WaitForInput();
  }
}

void TAfComPort::TSession::CheckDevice() {
  std::string reason;
  {
    std::lock_guard lock(Lock);
    if (!Port) return;
    reason = Loss(Fd);
    if (reason.empty()) {
      // Completes on a hang-up or an error of the device (and on out-of-band data, which a
      // serial line does not have).
      Device.async_wait(asio::posix::stream_descriptor::wait_error,
                        [self = shared_from_this()](const std::error_code& error) {
                          if (!error) self->CheckDevice();
                        });
      return;
    }
  }
  // After the input that came with the hang-up has been delivered: that wait completed with this one.
  asio::post(Device.get_executor(), [self = shared_from_this(), reason] {
    TAfComPort* port;
    {
      std::lock_guard lock(self->Lock);
      port = self->Port;
    }
    if (port) port->EndSession(self, reason);
  });
}

void TAfComPort::TSession::Flush() {
  while (!WaitingForRoom && !Output.Empty()) {
    const std::string_view run = Output.ContiguousRun();
    const ssize_t n = write(Fd, run.data(), run.size());
    if (n > 0) {
      Output.Remove(static_cast<size_t>(n));
    } else if (n < 0 && errno == EAGAIN) {
      WaitingForRoom = true;
      Device.async_wait(asio::posix::stream_descriptor::wait_write,
                        [self = shared_from_this()](const std::error_code& error) {
                          std::lock_guard lock(self->Lock);
                          self->WaitingForRoom = false;
                          if (!error && self->Port) self->Flush();
                        });
    } else if (n == 0 || errno != EINTR) {
      // The device failed: what is queued cannot reach it. CheckDevice closes the port.
      Output.Clear();
    }
  }
}

void TAfComPort::TSession::End() {
  Port = nullptr;
  // Discarded both ways, so that closing does not wait for the line to drain.
  tcflush(Fd, TCIOFLUSH);
  Retry.cancel();
  ReleaseDevice(Device.release());
  InputSize = 0;
  Output.Clear();
}

TAfComPort::TAfComPort(TComponent* owner) : TComponent(owner), FLoop(CurrentLoop()) {}

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
  if (FSession) ApplyLineSettings(FSession->Fd);
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
    path = ComDevicePath(number);
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
    FSession = std::make_shared<TSession>(*this, FLoop.Context(), fd);
  } catch (const std::system_error&) {
    // The loop cannot watch the device.
    ReleaseDevice(fd);
    throw EAfComPortCoreError("Error creating threads");
  } catch (...) {
    ReleaseDevice(fd);
    throw;
  }
  FOpen = true;
  FLoop.Post([session = FSession] { session->Start(); });
}

void TAfComPort::CloseLocked() {
  if (!FSession) return;
  FOpen = false;
  {
    std::lock_guard lock(FSession->Lock);
    FSession->End();
  }
  FSession.reset();
}

std::shared_ptr<TAfComPort::TSession> TAfComPort::CurrentSession() {
  std::lock_guard lock(FOpenLock);
  return FSession;
}

void TAfComPort::EndSession(const std::shared_ptr<TSession>& session, const std::string& reason) {
  if (CurrentSession() != session) return;
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

std::string TAfComPort::ReadAvailable() {
  const std::shared_ptr<TSession> session = CurrentSession();
  if (!session) return {};
  std::lock_guard lock(session->Lock);
  std::string data(session->Input.data(), session->InputSize);
  session->InputSize = 0;
  return data;
}

void TAfComPort::WriteString(const std::string& data) {
  if (data.empty()) return;
  const std::shared_ptr<TSession> session = CurrentSession();
  if (!session) return;
  std::lock_guard lock(session->Lock);
  if (!session->Port) return;
  const size_t free = session->Output.Free();
  if (!session->Output.Put(data)) {
    std::string text = fmt::format("Write data error [requested: {}, free: {}]", data.size(), free);
    throw EAfComPortError(fmt::format("{} - {} ", text, Name()));
  }
  if (FLoop.IsLoopThread())
    session->Flush();
  else
    FLoop.Post([session] {
      std::lock_guard guard(session->Lock);
      if (session->Port) session->Flush();
    });
}

}  // namespace duz
