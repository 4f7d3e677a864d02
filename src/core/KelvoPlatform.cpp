#include "core/KelvoPlatform.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/Clock.h"
#include "base/MutexLock.h"
#include "base/ThreadRunner.h"
#include "config/ConfigFile.h"
#include "config/ConfigRules.h"
#include "config/XmlHelpers.h"
#include "core/Heartbeat.h"
#include "core/Kelvo.h"
#include "core/Shutdown.h"
#include "log/Logger.h"

namespace duz {
namespace {

constexpr auto DefaultFirstTickDelay = std::chrono::seconds(30);
constexpr auto TickPause = std::chrono::milliseconds(1000);
// The longest pause a WAIT element can ask for (the largest finite 32-bit millisecond count).
constexpr double MaxWaitMs = 4294967294.0;

// A negative or unreadable number pauses nothing, rather than for a wrapped-around eternity.
void PauseSeconds(double seconds, const TStopSignal* stop) {
  const double ms = std::round(seconds * 1000);
  if (!(ms > 0)) return;
  Pause(std::chrono::milliseconds(static_cast<int64_t>(std::min(ms, MaxWaitMs))), stop);
}

// Last created first, so that later subservices never outlive those they were created after.
void FreeOwnedComponents(TComponent& owner) {
  while (owner.ComponentCount() > 0) delete owner.Component(owner.ComponentCount() - 1);
}

}  // namespace

TKelvoPlatform::TKelvoPlatform(TComponent* owner, TSubserviceFactory factory, TPlatformViewFactories views,
                               const TStopSignal* stop)
    : TComponent(owner), FFactory(std::move(factory)) {
  DebugLog("KelvoPlatform create");
  try {
    LoadConfiguration(stop);
  } catch (...) {
    // The subservices hold elements of FConfig, which goes before the base class frees them.
    FreeOwnedComponents(*this);
    throw;
  }
  const TMonotonicTime startTime = MonotonicNow() + FirstTickDelay();
  FTickProgress.Mark();  // the loading, with its WAIT pauses, is not the tick loop's silence
  FRunner = std::make_unique<TThreadRunner>(
      [this, startTime](TThreadRunner& thread) { TickLoop(thread, startTime); });
  StartViews(views);
  DebugLog("KelvoPlatform created");
}

TKelvoPlatform::~TKelvoPlatform() {
  DebugLog("KelvoPlatform destroy");
  while (!FViews.empty()) FViews.pop_back();
  StopTicking();
  FreeOwnedComponents(*this);
  // All at once, so that their workers' grace periods run side by side.
  FMailOutbox.Close();
  FHttpOutbox.Close();
  FWebhookOutbox.Close();
  DebugLog("KelvoPlatform destroyed");
}

bool TKelvoPlatform::LoadConfiguration(const TStopSignal* stop) {
  DebugLog("KelvoPlatform configuration load");
  const std::string path = ConfigFilePath();
  const bool found = LoadConfigFile(FConfig, path).has_value();
  if (found) {
    for (pugi::xml_node node : FConfig.document_element().children()) {
      const std::string_view name = ElementRuleName(node, "");
      if (name == "WAIT") {
        PauseSeconds(GetAttrDef(node, "wait", 10).ToDouble(), stop);
      } else if (name == "HEARTBEAT" && !FHeartbeat) {
        StartHeartbeat(node);
      } else if (name == "KELVO") {
        try {
          FFactory(*this, node);
        } catch (const std::exception& error) {
          // The element says which thermometer, the error what to mend in it.
          DebugLog("Cannot create Kelvo subservice! ", error.what());
          LogEvent("Cannot create Kelvo subservice!\r" + ElementXml(node) + "\r" + error.what(),
                   EVENTLOG_ERROR_TYPE, 0, 0);
        }
      }
    }
  } else {
    LogEvent("Config file not found! (" + path + ")", EVENTLOG_ERROR_TYPE, 0, 0);
  }
  DebugLog("KelvoPlatform confuguration loaded");
  return found;
}

// A view that cannot start is reported; the watch goes on without it.
void TKelvoPlatform::StartViews(const TPlatformViewFactories& views) {
  for (const TPlatformViewFactory& factory : views) {
    try {
      if (std::unique_ptr<TPlatformView> view = factory(FConfig, *FStatusBoard, FEvents))
        FViews.push_back(std::move(view));
    } catch (const std::exception& error) {
      DebugLog("! ", error.what());  // -debug shows why a view is missing
      LogEvent(error.what(), EVENTLOG_ERROR_TYPE, 0, 0);
    }
  }
}

// A heartbeat that cannot start is reported; the watch goes on without it, and so the outside
// checker learns of it.
void TKelvoPlatform::StartHeartbeat(pugi::xml_node element) {
  try {
    FHeartbeat = std::make_unique<THeartbeat>(element, FWebhookOutbox);
  } catch (const std::exception& error) {
    const std::string text = std::string("Heartbeat not started: ") + error.what();
    DebugLog(text);
    LogEvent(text, EVENTLOG_ERROR_TYPE, 0, 0);
  }
}

void TKelvoPlatform::LogEvent(const std::string& text, uint32_t type, uint32_t category, int32_t id) const {
  FEvents.LogEvent(text, type, category, id);
}

void TKelvoPlatform::TickSubservices() {
  TMutexLock lock(FTickLock);
  bool connected = true;
  for (int i = 0; i < ComponentCount(); ++i) {
    if (auto* subservice = dynamic_cast<TKelvo*>(Component(i))) {
      subservice->Tick();
      connected = connected && subservice->IsConnected();
    }
  }
  if (FHeartbeat) FHeartbeat->Tick(connected);
}

void TKelvoPlatform::ShutdownComputer(pugi::xml_node root) {
  const int flags = ShutdownFlags(root, GetWindowsVersionName());
  FShutdownTimers.Stop();
  {
    TMutexLock lock(FTickLock);
    FreeOwnedComponents(*this);  // each subservice closes its port first
  }
  RequestSystemShutdown(flags, FEvents);
}

// An exception from a tick ends the loop; the runner swallows it. A start time that has already
// come (a first tick without delay) ticks before the first pause.
void TKelvoPlatform::TickLoop(TThreadRunner& thread, TMonotonicTime startTime) {
  do {
    if (MonotonicNow() >= startTime) TickSubservices();
    FTickProgress.Mark();
    if (FTickStop.WaitFor(TickPause)) return;
  } while (!thread.Terminated());
}

void TKelvoPlatform::StopTicking() {
  if (!FRunner) return;
  FTickStop.Raise();
  FRunner->Terminate();
  FRunner->WaitFor();
  FRunner.reset();
}

std::chrono::milliseconds FirstTickDelay() {
  const char* text = std::getenv("DUZEZEVOVIVO_FIRST_TICK");
  double seconds = 0;
  if (!text || std::from_chars(text, text + std::strlen(text), seconds).ec != std::errc{} ||
      !(seconds >= 0 && seconds < std::chrono::duration<double>(DefaultFirstTickDelay).count()))
    return DefaultFirstTickDelay;
  return std::chrono::milliseconds(std::llround(seconds * 1000));
}

}  // namespace duz
