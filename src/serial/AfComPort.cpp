#include "serial/AfComPort.h"

#include <fcntl.h>
#include <fmt/format.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cerrno>
#include <chrono>
#include <span>
#include <string_view>
#include <system_error>
#include <utility>

#include "base/EventLoop.h"
#include "base/MutexLock.h"
#include "serial/AfCircularBuffer.h"

namespace duz {

static_assert(TAfComPort::InBufSize <= TEventLoop::ReadBufferSize);

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

// Closes a device this port holds exclusively, leaving it free for the next opener.
void ReleaseDevice(int fd) {
  ioctl(fd, TIOCNXCL);
  close(fd);
}

}  // namespace

// One open period of the port. The operations waiting on the owner loop share it, so it may outlive
// the period and the port itself; once the period has ended they find Port empty and stop.
// While the device is silent the session holds no input at all: the loop waits for the device to be
// readable, reads into the loop's read buffer and announces the bytes from there; only input the
// handler leaves unread is copied aside, until the next announcement.
struct TAfComPort::TSession : std::enable_shared_from_this<TSession> {
  TSession(TAfComPort& port, TEventLoop& loop, int fd)
      : Fd(fd),
        Port(&port),
        Device(loop.Context(), fd),
        Retry(loop.Context()),
        Scratch(loop.ReadBuffer().first<InBufSize>()) {}

  // Loop thread: waits until the device has bytes, or has hung up or failed.
  void ReadMore() REQUIRES(Lock);
  // Loop thread: writes from the ring buffer until it is empty or the device is full.
  void Flush() REQUIRES(Lock);
  // The period ends; the device is released and nothing queued is kept.
  void End() REQUIRES(Lock);

  const int Fd;
  TMutex Lock;
  TAfComPort* Port GUARDED_BY(Lock);  // nullptr once the period has ended
  asio::posix::stream_descriptor Device GUARDED_BY(Lock);
  asio::steady_timer Retry GUARDED_BY(Lock);  // the re-announcement of unread input
  const std::span<char, InBufSize> Scratch;   // the loop's read buffer
  // The bytes the port has to take: in Scratch while they are announced, else in Unread.
  std::string_view Input GUARDED_BY(Lock);
  std::string Unread GUARDED_BY(Lock);
  TAfCircularBuffer Output GUARDED_BY(Lock){OutBufSize};
  bool WaitingForRoom GUARDED_BY(Lock) = false;

 private:
  // Loop thread: announces the unread input with what the device has after it, or ends the period
  // when the device is lost.
  void Receive();
  // Loop thread: tells the port's handler what Input holds, and goes on.
  void Announce(TAfComPort& port, size_t count);
  // Why the device failed a read with error (eof: 0 bytes), as OnPortLost tells it.
  std::string LossReason(const std::error_code& error) const REQUIRES(Lock);
};

void TAfComPort::TSession::ReadMore() {
  Device.async_wait(asio::posix::stream_descriptor::wait_read,
                    [self = shared_from_this()](const std::error_code& error) {
                      if (error != asio::error::operation_aborted) self->Receive();
                    });
}

void TAfComPort::TSession::Receive() {
  TAfComPort* port;
  std::string lost;
  size_t count;
  {
    TMutexLock lock(Lock);
    if (!Port) return;
    port = Port;
    // Unread input goes first, so that the bytes stay in order and within InBufSize.
    count = Unread.copy(Scratch.data(), Scratch.size());
    std::string().swap(Unread);
    // A full buffer is announced again without a read, whose 0 would look like a hang-up.
    if (count < Scratch.size()) {
      const ssize_t n = read(Fd, Scratch.data() + count, Scratch.size() - count);
      if (n > 0)
        count += static_cast<size_t>(n);
      else if (n == 0)
        lost = LossReason(asio::error::eof);
      else if (errno != EAGAIN && errno != EINTR)
        lost = LossReason(std::error_code(errno, std::system_category()));
    }
    if (lost.empty()) {
      if (count == 0) return ReadMore();  // woken for nothing
      Input = {Scratch.data(), count};
    }
  }
  if (!lost.empty()) return port->EndSession(shared_from_this(), lost);
  Announce(*port, count);
}

void TAfComPort::TSession::Announce(TAfComPort& port, size_t count) {
  if (port.OnDataRecived) {
    try {
      port.OnDataRecived(port, count);
    } catch (...) {
      // A handler's failure ends its own delivery only; the loop and the port go on.
    }
  }
  TMutexLock lock(Lock);
  if (!Port) return;  // the handler closed the port
  if (Input.empty()) return ReadMore();
  // The read buffer is the next reader's: what is left is kept aside.
  Unread = Input;
  Input = {};
  // Left unread: the device is not read meanwhile, so a handler that never reads does not spin.
  Retry.expires_after(Reannounce);
  Retry.async_wait([self = shared_from_this()](const std::error_code& error) {
    if (!error) self->Receive();
  });
}

std::string TAfComPort::TSession::LossReason(const std::error_code& error) const {
  pollfd device{Fd, POLLIN, 0};
  if (poll(&device, 1, 0) > 0) {
    if (device.revents & POLLHUP) return "hang-up";
    if (device.revents & POLLERR) return "I/O error";
  }
  return error == asio::error::eof ? "hang-up" : error.message();
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
                          TMutexLock lock(self->Lock);
                          self->WaitingForRoom = false;
                          if (!error && self->Port) self->Flush();
                        });
    } else if (n == 0 || errno != EINTR) {
      // The device failed: what is queued cannot reach it. The read sees the failure and closes.
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
  Input = {};
  Unread.clear();
  Output.Clear();
}

TAfComPort::TAfComPort(TComponent* owner, std::function<std::string(int number)> deviceOf)
    : TComponent(owner), FLoop(CurrentLoop()), FDeviceOf(std::move(deviceOf)) {}

TAfComPort::~TAfComPort() {
  try {
    Close();
  } catch (...) {
    // Only Asio's cancellations could raise here, and the port is gone either way.
  }
}

void TAfComPort::SetComNumber(uint16_t value) {
  TMutexLock lock(FOpenLock);
  bool reopen = FSession != nullptr;
  CloseLocked();
  FComNumber = value;
  if (reopen) OpenLocked();
}

void TAfComPort::SetBaudRate(uint32_t value) {
  TMutexLock lock(FOpenLock);
  FBaudRate = value;
  if (FSession) ApplyLineSettings(FSession->Fd);
}

void TAfComPort::Open() {
  TMutexLock lock(FOpenLock);
  OpenLocked();
}

void TAfComPort::Close() {
  TMutexLock lock(FOpenLock);
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
    FSession = std::make_shared<TSession>(*this, FLoop, fd);
  } catch (const std::system_error&) {
    // The loop cannot watch the device.
    ReleaseDevice(fd);
    throw EAfComPortCoreError("Error creating threads");
  } catch (...) {
    ReleaseDevice(fd);
    throw;
  }
  FOpen = true;
  FLoop.Post([session = FSession] {
    TMutexLock lock(session->Lock);
    if (session->Port) session->ReadMore();
  });
}

void TAfComPort::CloseLocked() {
  if (!FSession) return;
  FOpen = false;
  {
    TMutexLock lock(FSession->Lock);
    FSession->End();
  }
  FSession.reset();
}

std::shared_ptr<TAfComPort::TSession> TAfComPort::CurrentSession() {
  TMutexLock lock(FOpenLock);
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
  TMutexLock lock(FOpenLock);
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
  // A read returns at once: what is there, or EAGAIN (the descriptor does not block), and 0 bytes
  // only after a hang-up.
  tio.c_cc[VMIN] = 1;
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
  TMutexLock lock(session->Lock);
  std::string data = session->Input.empty() ? std::move(session->Unread) : std::string(session->Input);
  session->Input = {};
  session->Unread.clear();
  return data;
}

void TAfComPort::WriteString(const std::string& data) {
  if (data.empty()) return;
  const std::shared_ptr<TSession> session = CurrentSession();
  if (!session) return;
  TMutexLock lock(session->Lock);
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
      TMutexLock guard(session->Lock);
      if (session->Port) session->Flush();
    });
}

}  // namespace duz
