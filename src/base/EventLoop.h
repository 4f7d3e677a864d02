#pragma once
// TEventLoop: the owner thread's event loop. Serial notifications, socket events of the TCP servers,
// shutdown timers and service control requests are handlers that run here, one at a time, on the
// thread that runs the loop. The thread that constructs a loop makes it its Current() loop; objects
// that need an owner thread (serial ports, TCP servers, timers) take Current() when they are created.
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <thread>

namespace asio {
class io_context;
}

namespace duz {

class TEventLoop {
 public:
  TEventLoop();
  ~TEventLoop();
  TEventLoop(const TEventLoop&) = delete;
  TEventLoop& operator=(const TEventLoop&) = delete;

  // The loop constructed on the calling thread, or nullptr.
  static TEventLoop* Current();

  asio::io_context& Context();

  static constexpr size_t ReadBufferSize = 4096;
  // Loop thread: the one buffer that every port and socket reads into once the loop saw it ready.
  // A handler hands the bytes on before it returns; handlers never run inside one another, so no
  // connection needs a buffer of its own while it waits.
  std::span<char> ReadBuffer();

  // Any thread: queue a handler for the loop thread.
  void Post(std::function<void()> handler);
  // Any thread: run the handler on the loop thread and wait at most timeout for it to end.
  // Returns false on time-out (the handler still runs later). On the loop thread it runs at once.
  bool Invoke(std::function<void()> handler, std::chrono::milliseconds timeout);

  // Runs handlers until Stop(). Returns at once if Stop() came first.
  void Run();
  // Runs handlers until done() is true or the time-out passes; returns done(). For tests and for
  // waits on the loop thread that must keep serving handlers.
  bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Any thread.
  void Stop();
  bool IsLoopThread() const;

 private:
  struct TImpl;
  std::unique_ptr<TImpl> FImpl;
};

}  // namespace duz
