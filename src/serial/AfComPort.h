#pragma once
// TAfComPort: one numbered serial port (COM<n>) of a thermometer, owned by its subservice.
// COM<n> is the device that its owner's mapping names at each open; it is opened exclusively, raw,
// 8N1, without flow control, DTR and RTS raised.
// While open, the owner loop (TEventLoop::Current() of the constructing thread) watches the
// non-blocking device; the port has no thread of its own. What arrives is read, at most InBufSize
// bytes at a time, into the loop's read buffer and announced as OnDataRecived; input the handler
// leaves unread is kept (the device is not read meanwhile beyond InBufSize bytes in all) and
// announced again after 200 ms. WriteString queues into the output ring buffer, made at the first
// write, which the loop writes out as fast as the device takes it. A device that hangs up or fails
// closes the port, so that its owner can open it again, and says why through OnPortLost.
// Threads: construct, destroy and handle events on the owner loop thread; Open, Close and IsOpen may
// also be called from another thread; WriteString from any thread. The loop outlives the port.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Component.h"
#include "base/Exception.h"
#include "base/Mutex.h"

namespace duz {

class TEventLoop;

// The port cannot be opened or set up.
class EAfComPortCoreError : public Exception {
  using Exception::Exception;
};

// A write that does not fit into the output ring buffer.
class EAfComPortError : public Exception {
  using Exception::Exception;
};

class TAfComPort : public TComponent {
 public:
  static constexpr uint32_t InBufSize = 4096;   // most input announced at once
  static constexpr uint32_t OutBufSize = 2048;  // size of the output ring buffer

  // deviceOf names the device of a COM number; what it raises fails the open ("Can't open device").
  TAfComPort(TComponent* owner, std::function<std::string(int number)> deviceOf);
  ~TAfComPort() override;

  uint16_t ComNumber() const { return FComNumber; }
  // On an open port: close, set, open.
  void SetComNumber(uint16_t value);
  uint32_t BaudRate() const { return FBaudRate; }
  // On an open port the new speed applies at once.
  void SetBaudRate(uint32_t value);

  // Does nothing on an open port; raises EAfComPortCoreError and stays closed on failure.
  void Open();
  // Discards queued data both ways and closes the device. Nothing when closed.
  void Close();
  bool IsOpen() const { return FOpen; }

  // Loop thread: every byte received and not read yet, at most InBufSize ("" when closed).
  std::string ReadAvailable();
  // Queues all of data for the device, or raises EAfComPortError and queues nothing: a device that
  // takes less than it is sent (or nothing at all) fills the ring buffer, and further writes are
  // refused until it has room again. Empty data, or a port that is not open, sends nothing.
  void WriteString(const std::string& data);

  // Runs on the owner loop thread; what it throws is dropped.
  std::function<void(TAfComPort& sender, size_t count)> OnDataRecived;
  // Runs on the owner loop thread when the device hung up or failed, just before the port closes
  // itself; reason says what happened ("hang-up", "I/O error", ...). Not called for Close.
  std::function<void(TAfComPort& sender, const std::string& reason)> OnPortLost;

 private:
  struct TSession;

  void OpenLocked() REQUIRES(FOpenLock);
  void CloseLocked() REQUIRES(FOpenLock);
  std::shared_ptr<TSession> CurrentSession() EXCLUDES(FOpenLock);
  // Tells OnPortLost and closes the port, if session is still its open period (a late hang-up must
  // not close a reopen).
  void EndSession(const std::shared_ptr<TSession>& session, const std::string& reason);
  void ApplyLineSettings(int fd) const;

  TEventLoop& FLoop;
  const std::function<std::string(int number)> FDeviceOf;
  std::atomic<uint16_t> FComNumber{0};
  std::atomic<uint32_t> FBaudRate{115200};

  TMutex FOpenLock;  // serialises Open and Close; taken before a session's lock
  std::atomic<bool> FOpen{false};
  std::shared_ptr<TSession> FSession GUARDED_BY(FOpenLock);  // the current open period
};

}  // namespace duz
