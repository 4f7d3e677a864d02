#pragma once
// TKelvoPlatform: turns the configuration file into running thermometer subservices. Created on the
// owner thread (the service thread, or the debug run's platform thread), which must have a
// TEventLoop and keep running it afterwards. Construction finds the configuration through the
// registry, loads it (honouring WAIT pauses, which a raised stop signal cuts short), creates one
// subservice per KELVO element through the factory, then starts the tick thread and the registered
// views (core/PlatformView.h). It owns the three outboxes through which its children reach the
// network, and the heartbeat of a HEARTBEAT element, which its tick drives. Destruction ends the
// views, stops the tick thread before the subservices go, then closes the outboxes (a worker stuck
// on a peer is abandoned).
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <string>

#include "base/Clock.h"
#include "base/Component.h"
#include "base/EventLogger.h"
#include "base/ProgressMark.h"
#include "base/StopSignal.h"
#include "core/PlatformView.h"
#include "net/Outbox.h"

namespace duz {

class THeartbeat;
class TSubservice;
class TThreadRunner;

class TKelvoPlatform : public TComponent {
 public:
  // Creates one subservice owned by the platform from a KELVO element; raises on a bad element.
  using TSubserviceFactory = std::function<TSubservice*(TKelvoPlatform& owner, pugi::xml_node element)>;

  // Entries of the platform and its parts in the event log carry the service's name.
  static constexpr const char* EventSource = "Deredoru";

  // stop, when given, must outlive the construction; raised, it ends every WAIT pause at once.
  TKelvoPlatform(TComponent* owner, TSubserviceFactory factory, const TStopSignal* stop = nullptr);
  ~TKelvoPlatform() override;

  // Any thread. Raises ERangeError for a category above 65535 or a negative id.
  void LogEvent(const std::string& message, uint32_t type, uint32_t category, int32_t id);
  // Tick thread: Tick on every subservice, in creation order, then on the heartbeat.
  void TickSubservices();
  // The loaded configuration document (empty when none was found).
  const pugi::xml_document& Config() const { return FConfig; }

  // Held by every pass of TickSubservices: whoever holds it (the shutdown freeing the subservices,
  // a test ticking by hand) keeps the tick thread away from the platform's children.
  std::mutex& TickLock() { return FTickLock; }
  // Marked after every pass of the tick loop, from its start on; it ages once the loop has ended
  // (a tick that raised) or hangs. Any thread.
  const TProgressMark& TickProgress() const { return FTickProgress; }

  // Any thread: where the alarms' e-mails and the posters' GETs go; and the alarms' webhooks and the
  // heartbeat's pings, which neither a stuck mail relay nor a slow poster holds up.
  TOutbox& MailOutbox() { return FMailOutbox; }
  TOutbox& HttpOutbox() { return FHttpOutbox; }
  TOutbox& WebhookOutbox() { return FWebhookOutbox; }

 private:
  bool LoadConfiguration(const TStopSignal* stop);
  void StartViews();
  void StartHeartbeat(pugi::xml_node element);
  void TickLoop(TThreadRunner& thread, TMonotonicTime startTime);
  void StopTicking();

  TSubserviceFactory FFactory;
  // Members, so that they outlive the subservices, which the destructor's body frees.
  TOutbox FMailOutbox{"E-mail", TEventLogger(EventSource)};
  TOutbox FHttpOutbox{"HTTP", TEventLogger(EventSource)};
  TOutbox FWebhookOutbox{"Webhook", TEventLogger(EventSource)};
  std::unique_ptr<THeartbeat> FHeartbeat;              // created on the owner thread before ticking starts
  std::unique_ptr<TThreadRunner> FRunner;              // owner thread only
  std::vector<std::unique_ptr<TPlatformView>> FViews;  // owner thread only
  std::unique_ptr<TEventLogger> FEventLogger;          // guarded by FEventLoggerLock
  std::mutex FEventLoggerLock;
  std::mutex FTickLock;   // guards the children against the tick thread: see TickLock
  TStopSignal FTickStop;  // wakes the tick thread from its pause when the platform goes
  TProgressMark FTickProgress;
  pugi::xml_document FConfig;  // loaded by the constructor, read-only after
};

// The platform that is running, for parts that need it outside the component tree (the shutdown
// action, the port-open report in debug mode). nullptr when none exists.
TKelvoPlatform* CurrentPlatform();

// Seconds from the start of the tick thread to the first tick: 30, or less when
// DUZEZEVOVIVO_FIRST_TICK says so, so that fault drills and demos need not wait half a minute.
std::chrono::milliseconds FirstTickDelay();

}  // namespace duz
