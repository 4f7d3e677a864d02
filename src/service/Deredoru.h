#pragma once
// TDeredoru: the service module. The entry point creates it on the main thread for every run
// without DEBUG (the service run, INSTALL and UNINSTALL).
// In the service run it starts the service thread, the platform's owner thread: an event loop on
// which the platform is created and on which the stop and shutdown controls are handled, one at a
// time, so that a stop never runs while the platform is being created; a control only cuts the
// creation's WAIT pauses short.
// While it runs, the service thread's loop marks its progress every second, but only while the
// platform's tick loop goes round too: WatchAlive() is what the service manager's watchdog is fed on.
// A reload (SIGHUP) is handled on the same loop, between RELOADING=1 and READY=1 to the manager.
// Threads: construct, Start, Ended, Finish, Control, Reload, Running, StatusBoard, the installation handlers
// and destroy on the main thread; WatchAlive and ReportServiceEvent on any thread; the service
// handlers on the service thread.
#include <atomic>
#include <exception>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "base/EventLogger.h"
#include "base/ProgressMark.h"
#include "base/StopSignal.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"

namespace duz {

class TEventLoop;

inline constexpr const char* ServiceName = "Deredoru";
inline constexpr const char* ServiceDisplayName = "Kelvo watch service";
inline constexpr const char* ServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Deredoru";
inline constexpr const char* EventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\Eventlog\\Application\\Deredoru";

enum class TServiceControl { Stop, Shutdown };

// How long the watch may go without progress before the watchdog is left to run out.
inline constexpr std::chrono::seconds MaxWatchSilence{10};

class TDeredoru {
 public:
  // The platform runs the given views, creates its subservices through factory (tests put their
  // own in) and keeps its state in stateFile ("" for nowhere).
  explicit TDeredoru(TPlatformViewFactories views = {},
                     TKelvoPlatform::TSubserviceFactory factory = CreateKelvo, std::string stateFile = "");
  ~TDeredoru();

  // Entries under the source "Deredoru"; failures of the event log are dropped.
  void ReportServiceEvent(const std::string& text, uint32_t type, uint32_t category, int32_t eventId);

  // Reports start pending to the service manager and starts the service thread. Returns 0, or the
  // errno value of the failed connection to the manager (then nothing was started).
  int Start();
  // Queues a control for the service thread; handled after the platform has been created, whose
  // WAIT pauses it ends at once.
  void Control(TServiceControl control);
  // Queues a reload of the configuration for the service thread; nothing once a control was asked
  // for.
  void Reload();
  // The platform has been created and no control has been asked for: the time for status lines.
  bool Running() const { return FRunning && !FStop.Raised(); }
  // While Running, the platform's status board (it outlives the platform); nullptr otherwise.
  std::shared_ptr<const TStatusBoard> StatusBoard() const { return Running() ? FStatusBoard : nullptr; }
  // The watch made progress within MaxWatchSilence: the service thread's loop and the tick loop
  // have both gone round. The platform's creation, WAIT pauses included, counts as progress.
  bool WatchAlive() const;
  // The service thread has finished (stopped, shut down, or failed).
  bool Ended() const { return FEnded; }
  // Waits for the service thread. Returns the exit status: 0 after a stop or a shutdown, 1 when
  // the start or the execution failed.
  int Finish();

  // The registry values of an installation: the event source and the service's description.
  void ServiceAfterInstall(const std::string& executable);
  void ServiceAfterUninstall();

 private:
  void ServiceCreate();
  void ServiceDestroy();
  void ServiceStart();
  void ServiceExecute();
  void ServiceStop();
  void ServiceShutdown();

  void ServiceThread(std::promise<void>& loopReady);
  void Heartbeat();
  void HandleControl(TServiceControl control);
  void HandleReload();
  void ReportStatus(const std::string& state);
  void ReportFailure(const char* step, const std::exception& error);

  const TEventLogger FEventLogger{ServiceName};
  TStopSignal FStop;  // raised by the first control
  std::thread FThread;
  std::atomic<bool> FEnded{false};
  bool FFailed = false;         // written by the service thread before FEnded
  bool FStopRequested = false;  // service thread only
  std::atomic<bool> FRunning{false};
  std::shared_ptr<TStatusBoard> FStatusBoard;  // written by the service thread before FRunning
  std::atomic<bool> FCreating{false};
  TProgressMark FProgress;  // marked by Heartbeat
  const TPlatformViewFactories FViews;
  const TKelvoPlatform::TSubserviceFactory FFactory;
  const std::string FStateFile;
  // Created on the service thread, which makes it its loop; kept until the platform has gone,
  // because the platform's ports and sockets are bound to it.
  std::unique_ptr<TEventLoop> FLoop;
  std::unique_ptr<TKelvoPlatform> FPlatform;
};

}  // namespace duz
