#pragma once
// TPlatformHost: the owner thread of the debug run. It makes the thread's event loop, creates the
// platform on it (with its WAIT pauses), then runs the loop, which serves the serial notifications,
// sockets and timers, until Stop() frees the platform on that same thread.
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "base/EventLoop.h"

namespace duz {

class TKelvoPlatform;

class TPlatformHost {
 public:
  TPlatformHost();
  ~TPlatformHost();

  // Starts the owner thread and returns once the platform has been created: "" on success, else
  // the message of the error that ended the creation (the loop still runs, without a platform).
  std::string Start();
  // Frees the platform on the owner thread, ends the loop and waits for the thread.
  void Stop();

 private:
  void Run(std::promise<std::string>& created);

  std::thread FThread;
  TEventLoop* FLoop = nullptr;  // lives on FThread's stack while it runs
  std::unique_ptr<TKelvoPlatform> FPlatform;
};

}  // namespace duz
