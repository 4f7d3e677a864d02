#include "service/Deredoru.h"

#include <fmt/format.h>

#include <cstring>
#include <ctime>

#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/PeriodicTimer.h"
#include "config/Registry.h"
#include "core/KelvoPlatform.h"
#include "log/ThreadUtils.h"
#include "service/ServiceManager.h"

namespace duz {
namespace {

constexpr const char* ServiceDescription =
    "Služba pro dohled a kontrolu teploty čidel Kelvo (KelvoUsb/KelvoNet) [Quellix, https://quellix.example]";
constexpr uint32_t TypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
constexpr std::chrono::milliseconds HeartbeatPeriod{1000};

}  // namespace

TDeredoru::TDeredoru(TPlatformViewFactories views, TKelvoPlatform::TSubserviceFactory factory,
                     std::string stateFile)
    : FViews(std::move(views)), FFactory(std::move(factory)), FStateFile(std::move(stateFile)) {
  ServiceCreate();
}

TDeredoru::~TDeredoru() {
  if (FThread.joinable()) {
    Control(TServiceControl::Stop);
    FThread.join();
  }
  ServiceDestroy();
  // The service thread has ended (joined), so nothing else touches the platform or the loop; after
  // a shutdown control the platform is still here and goes now, before the loop it is bound to.
  FPlatform.reset();
  FLoop.reset();
}

void TDeredoru::ReportServiceEvent(const std::string& text, uint32_t type, uint32_t category,
                                   int32_t eventId) {
  try {
    FEventLogger.LogEvent(text, type, category, eventId);
  } catch (const ERangeError&) {
  }
}

int TDeredoru::Start() {
  if (int error = NotifyServiceManager("STATUS=Start pending")) return error;
  std::promise<void> loopReady;
  std::future<void> ready = loopReady.get_future();
  FThread = std::thread([this, &loopReady] { ServiceThread(loopReady); });
  ready.wait();
  return 0;
}

void TDeredoru::Control(TServiceControl control) {
  FStop.Raise();
  if (FLoop) FLoop->Post([this, control] { HandleControl(control); });
}

void TDeredoru::Reload() {
  if (FLoop && !FStop.Raised()) FLoop->Post([this] { HandleReload(); });
}

bool TDeredoru::WatchAlive() const { return FCreating || FProgress.Age() < MaxWatchSilence; }

int TDeredoru::Finish() {
  if (FThread.joinable()) FThread.join();
  return FFailed ? 1 : 0;
}

void TDeredoru::ServiceAfterInstall(const std::string& executable) {
  RegistryCreateKey(EventSourceKey);
  RegistryWriteString(EventSourceKey, "EventMessageFile", executable);
  RegistryWriteDword(EventSourceKey, "TypesSupported", TypesSupported);
  // The service key comes with the installation; without it there is no service to describe.
  if (RegistryKeyExists(ServiceKey)) RegistryWriteString(ServiceKey, "Description", ServiceDescription);
}

void TDeredoru::ServiceAfterUninstall() { RegistryDeleteKey(EventSourceKey); }

void TDeredoru::ServiceCreate() { ReportServiceEvent("Create", EVENTLOG_INFORMATION_TYPE, 5, 0); }

void TDeredoru::ServiceDestroy() { ReportServiceEvent("Destroy", EVENTLOG_INFORMATION_TYPE, 4, 0); }

void TDeredoru::ServiceStart() { ReportServiceEvent("Start", EVENTLOG_INFORMATION_TYPE, 1, 0); }

// The platform's whole start-up (configuration with its WAIT pauses, subservices, tick thread) runs
// here; controls posted meanwhile wait in the loop until it is done.
void TDeredoru::ServiceExecute() {
  FCreating = true;
  try {
    FPlatform = std::make_unique<TKelvoPlatform>(nullptr, FFactory, FViews, &FStop, FStateFile);
  } catch (...) {
    FCreating = false;
    throw;
  }
  FProgress.Mark();
  FCreating = false;
  FStatusBoard = FPlatform->StatusBoard();
  FRunning = true;
  const auto heartbeat = TPeriodicTimer::Start(*FLoop, HeartbeatPeriod, [this] { Heartbeat(); });
  FLoop->Run();
  heartbeat->Stop();
}

// The loop went round; that counts only while the tick loop goes round too.
void TDeredoru::Heartbeat() {
  if (!FPlatform || FPlatform->TickProgress().Age() < MaxWatchSilence) FProgress.Mark();
}

void TDeredoru::ServiceStop() {
  ReportServiceEvent("Stop", EVENTLOG_INFORMATION_TYPE, 2, 0);
  FPlatform.reset();
}

void TDeredoru::ServiceShutdown() { ReportServiceEvent("Shutdown", EVENTLOG_INFORMATION_TYPE, 3, 0); }

void TDeredoru::ServiceThread(std::promise<void>& loopReady) {
  SetThreadName("Service");
  FLoop = std::make_unique<TEventLoop>();
  loopReady.set_value();
  try {
    ServiceStart();
    ReportStatus("READY=1\nSTATUS=Running");
    try {
      ServiceExecute();
    } catch (const std::exception& error) {
      ReportFailure("execute", error);
    }
  } catch (const std::exception& error) {
    ReportFailure("start", error);
  }
  FEnded = true;
}

// After a stop or shutdown the thread ends whatever the handler did: systemd has asked the process
// to go and would kill it at its stop time-out otherwise.
void TDeredoru::HandleControl(TServiceControl control) {
  if (FStopRequested) return;
  FStopRequested = true;
  ReportStatus("STOPPING=1\nSTATUS=Stop pending");
  const bool stop = control == TServiceControl::Stop;
  try {
    stop ? ServiceStop() : ServiceShutdown();
  } catch (const std::exception& error) {
    ReportFailure(stop ? "stop" : "shutdown", error);
  }
  FLoop->Stop();
}

// The manager pairs RELOADING=1 with the next READY=1 by the time it carries.
void TDeredoru::HandleReload() {
  if (FStopRequested || !FPlatform) return;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  ReportStatus(fmt::format("RELOADING=1\nMONOTONIC_USEC={}\nSTATUS=Reloading",
                           int64_t{now.tv_sec} * 1'000'000 + now.tv_nsec / 1000));
  FPlatform->Reload();
  ReportStatus("READY=1\nSTATUS=Running");
}

void TDeredoru::ReportStatus(const std::string& state) {
  if (int error = NotifyServiceManager(state))
    ReportServiceEvent(std::strerror(error), EVENTLOG_ERROR_TYPE, 0, 0);
}

void TDeredoru::ReportFailure(const char* step, const std::exception& error) {
  FFailed = true;
  ReportServiceEvent(fmt::format("Service failed on {}: {}", step, error.what()), EVENTLOG_ERROR_TYPE, 0, 0);
}

}  // namespace duz
