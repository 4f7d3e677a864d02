#include "core/Shutdown.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Clock.h"
#include "base/EventLogger.h"
#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/PeriodicTimer.h"
#include "base/ProcessStart.h"
#include "base/Text.h"
#include "core/Kelvo.h"
#include "core/KelvoPlatform.h"
#include "xml/XmlHelpers.h"

namespace duz {

namespace {

struct TShutdownTimer {
  const TComponent* Owner;
  std::weak_ptr<TPeriodicTimer> Timer;
  TMonotonicTime Due;  // the first expiry
};

std::mutex TimersLock;
std::vector<TShutdownTimer> Timers;  // guarded by TimersLock

}  // namespace

int ShutdownFlags(pugi::xml_node root, const std::string& versionName) {
  const std::string name = UpperCase(versionName);
  int flags = DefaultShutdownFlags;
  bool defaultTaken = false;
  for (pugi::xml_node child : root.children("SHUTDOWN")) {
    std::string type = UpperCase(GetAttrDef(child, "type", TVariant::Null{}).ToString());
    if (type == "DEFAULT") {
      if (!defaultTaken) flags = static_cast<int>(GetAttrDef(child, "value", TVariant::Null{}).ToInt());
      defaultTaken = true;
    } else if (type == name) {
      return static_cast<int>(GetAttrDef(child, "value", TVariant::Null{}).ToInt());
    }
  }
  return flags;
}

std::string GetWindowsVersionName() { return ""; }

void ShutdownComputer(pugi::xml_node root) {
  const int flags = ShutdownFlags(root, GetWindowsVersionName());
  StopShutdownTimers();
  FreeAllSubservices();
  try {
    RequestSystemShutdown(flags);
  } catch (const std::exception& error) {
    // The computer keeps running unwatched: the operator must learn of it.
    TEventLogger(TKelvoPlatform::EventSource)
        .LogEvent(std::string("Shutdown request failed: ") + error.what(), EVENTLOG_ERROR_TYPE, 0, 0);
  }
}

void RequestSystemShutdown(int flags) {
  // A log-off (no shutdown bit) has no counterpart for a service.
  if (!(flags & (1 | 2 | 8)))
    throw Exception("the flags " + std::to_string(flags) + " name no kind of shutdown");
  std::vector<std::string> command = {"systemctl", flags & (1 | 8) ? "poweroff" : "reboot"};
  if (const char* program = std::getenv("DUZEZEVOVIVO_SHUTDOWN_COMMAND"); program && *program)
    command = {program, std::to_string(flags)};
  if (StartProcess(command) < 0) throw Exception("\"" + command[0] + "\" cannot be started");
}

void StartShutdownTimer(const TComponent* owner, std::chrono::milliseconds period,
                        std::function<void()> onExpiry) {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) throw Exception("No event loop on this thread for the shutdown timer");
  auto timer = TPeriodicTimer::Start(*loop, period, std::move(onExpiry));
  std::lock_guard lock(TimersLock);
  std::erase_if(Timers, [](const TShutdownTimer& entry) { return entry.Timer.expired(); });
  Timers.push_back({owner, timer, MonotonicNow() + period});
}

void StopShutdownTimers(const TComponent* owner) {
  std::vector<std::shared_ptr<TPeriodicTimer>> stopped;
  {
    std::lock_guard lock(TimersLock);
    std::erase_if(Timers, [&](const TShutdownTimer& entry) {
      if (owner && entry.Owner != owner) return false;
      if (auto timer = entry.Timer.lock()) stopped.push_back(std::move(timer));
      return true;
    });
  }
  // Outside the lock: a stopped timer may be freed here, and freeing takes no lock of ours.
  for (auto& timer : stopped) timer->Stop();
}

int RunningShutdownTimers() {
  std::lock_guard lock(TimersLock);
  return static_cast<int>(std::count_if(Timers.begin(), Timers.end(), [](const TShutdownTimer& entry) {
    auto timer = entry.Timer.lock();
    return timer && timer->IsRunning();
  }));
}

std::optional<double> ShutdownSecondsLeft() {
  const TMonotonicTime now = MonotonicNow();
  std::optional<double> left;
  std::lock_guard lock(TimersLock);
  for (const TShutdownTimer& entry : Timers) {
    const auto timer = entry.Timer.lock();
    if (!timer || !timer->IsRunning()) continue;
    const double seconds = std::max(0.0, std::chrono::duration<double>(entry.Due - now).count());
    left = std::min(left.value_or(seconds), seconds);
  }
  return left;
}

}  // namespace duz
