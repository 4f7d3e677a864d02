#pragma once
// TPlatformHost: the owner thread of the debug run. It makes the thread's event loop, creates the
// platform on it (with its WAIT pauses, which the stop signal cuts short), then runs the loop, which
// serves the serial notifications, sockets and timers, until Stop() frees the platform on that same
// thread. Construct, Start, Stop and destroy on one thread; the creation's handler runs on the owner
// thread. Reload may be called from any thread.
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "base/EventLoop.h"
#include "status/PlatformView.h"

namespace duz {

// The state file of the service and of -debug, in the working directory.
inline constexpr const char* StateFileName = "duzezevovivo.state";

class TKelvoPlatform;
class TStopSignal;

class TPlatformHost {
 public:
  // "" once the platform has been created, else the message of the error that ended the creation
  // (the loop still runs then, without a platform).
  using TCreatedHandler = std::function<void(const std::string& error)>;

  // The platform runs the given views and keeps its state in stateFile ("" for nowhere). stop, when
  // given, outlives the host; raising it ends the creation's WAIT pauses at once.
  explicit TPlatformHost(TPlatformViewFactories views, const TStopSignal* stop = nullptr,
                         std::string stateFile = "");
  ~TPlatformHost();

  // Starts the owner thread and returns once its loop exists; the platform is then being created,
  // and onCreated is called when that has ended.
  void Start(TCreatedHandler onCreated);
  // Frees the platform on the owner thread (after its creation has ended), ends the loop and waits
  // for the thread.
  void Stop();
  // Has the owner thread reload the platform's configuration once it has been created; nothing
  // before Start or without a platform.
  void Reload();

 private:
  void Run(TCreatedHandler onCreated, std::promise<void>& loopReady);

  const TPlatformViewFactories FViews;
  const TStopSignal* FStop;
  const std::string FStateFile;
  std::thread FThread;
  std::atomic<TEventLoop*> FLoop = nullptr;  // lives on FThread's stack while it runs
  std::unique_ptr<TKelvoPlatform> FPlatform;
};

}  // namespace duz
