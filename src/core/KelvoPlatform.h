#pragma once
// TKelvoPlatform: turns the configuration file into running thermometer subservices, and owns all
// that the watch keeps while it runs: the subservices (its components, in creation order), their
// shutdown timers, the status board its views read, the three outboxes through which its children
// reach the network, and the heartbeat of a HEARTBEAT element, which its tick drives. Nothing of it
// is process-wide, so that two platforms can live in one process.
// Created on the owner thread (the service thread, or the debug run's platform thread), which must
// have a TEventLoop and keep running it afterwards. Construction finds the configuration through the
// registry, loads it (honouring WAIT pauses, which a raised stop signal cuts short), creates one
// subservice per KELVO element through the factory, then starts the tick thread and the views.
// Destruction ends the views, stops the tick thread before the subservices go, then closes the
// outboxes (a worker stuck on a peer is abandoned).
// With a state file, what the watch knows (TWatchState) survives the program: the start takes up what
// the previous run left there, the tick thread writes it when it has changed, the end writes it last.
// Reload reads the configuration again without a gap for what it keeps.
#include <chrono>
#include <functional>
#include <memory>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Component.h"
#include "base/EventLogger.h"
#include "base/Mutex.h"
#include "base/ProgressMark.h"
#include "base/StopSignal.h"
#include "core/ShutdownTimers.h"
#include "core/WatchState.h"
#include "net/Outbox.h"
#include "status/PlatformView.h"
#include "status/StatusBoard.h"

namespace duz {

class THeartbeat;
class TKelvo;
class TStateFile;
class TThreadRunner;

class TKelvoPlatform : public TComponent {
 public:
  // Creates one subservice owned by the platform from a KELVO element; raises on a bad element.
  using TSubserviceFactory = std::function<void(TKelvoPlatform& owner, pugi::xml_node element)>;

  // Entries of the platform and its parts in the event log carry the service's name.
  static constexpr const char* EventSource = "Deredoru";

  // stop, when given, must outlive the construction; raised, it ends every WAIT pause at once.
  // stateFile: where the watch's state is kept across runs; "" for nowhere.
  TKelvoPlatform(TComponent* owner, TSubserviceFactory factory, TPlatformViewFactories views = {},
                 const TStopSignal* stop = nullptr, const std::string& stateFile = "");
  ~TKelvoPlatform() override;

  // Owner thread: reads the registry and the configuration again and checks them as -check does.
  // With errors the running configuration stays, and the event log says why. Otherwise a thermometer
  // whose element is unchanged keeps running as it is (port, state, shutdown timers, history, TCP
  // clients); one that changed is made again, its conditions of unchanged elements resuming their
  // state; new ones are made and those gone freed. Settings at the root count for what is sent
  // from now on; the views are made again when theirs changed. WAIT elements pause nothing here.
  void Reload() EXCLUDES(FTickLock);
  // Any thread: something the state file keeps has changed.
  void NoteStateChange();

  // Any thread. Raises ERangeError for a category above 65535 or a negative id.
  void LogEvent(const std::string& text, uint32_t type, uint32_t category, int32_t id) const;
  // Tick thread: Tick on every subservice, in creation order, then on the heartbeat.
  void TickSubservices() EXCLUDES(FTickLock);
  // Owner thread, when a shutdown timer expires: the flags that the SHUTDOWN elements of root give
  // (a failure here leaves everything as it was), every shutdown timer stopped, every subservice
  // freed with the tick thread kept away, then the request to the system.
  void ShutdownComputer(pugi::xml_node root) EXCLUDES(FTickLock);
  // The loaded configuration document (empty when none was found). Owner thread, or with the tick
  // thread's TickLock: a reload replaces it.
  const pugi::xml_document& Config() const { return *FConfig; }

  // Held by every pass of TickSubservices: whoever holds it (the shutdown freeing the subservices,
  // a test ticking by hand) keeps the tick thread away from the platform's children.
  TMutex& TickLock() RETURN_CAPABILITY(FTickLock) { return FTickLock; }
  // Marked after every pass of the tick loop, from its start on; it ages once the loop has ended
  // (a tick that raised) or hangs. Any thread.
  const TProgressMark& TickProgress() const { return FTickProgress; }

  // Any thread: what the views and the service's status line show.
  const std::shared_ptr<TStatusBoard>& StatusBoard() const { return FStatusBoard; }
  // Owner thread: the conditions' shutdown timers.
  TShutdownTimers& ShutdownTimers() { return FShutdownTimers; }
  // Any thread: where the alarms' e-mails and the posters' GETs go; and the alarms' webhooks and the
  // heartbeat's pings, which neither a stuck mail relay nor a slow poster holds up.
  TOutbox& MailOutbox() { return FMailOutbox; }
  TOutbox& HttpOutbox() { return FHttpOutbox; }
  TOutbox& WebhookOutbox() { return FWebhookOutbox; }

 private:
  bool LoadConfiguration(const TStopSignal* stop, const TWatchState* saved);
  // Through the factory; saved, when given, is what the new subservice resumes from.
  void CreateSubservice(pugi::xml_node element, const TWatchState* saved);
  std::vector<TKelvo*> Subservices() const;
  void StartViews();
  void StopViews();
  void StartHeartbeat(pugi::xml_node element);
  void TickLoop(TThreadRunner& thread, TMonotonicTime startTime);
  void StopTicking();

  // A state saved in another boot loses its armed shutdowns and its off states, with a warning.
  void DiscardOtherBoot(TWatchState& saved) const;
  // The shutdowns saved are armed again (at once, with a warning, when already due); the alarms are
  // queued.
  void Resume(TWatchState& saved);
  // The new document of Reload, or why it cannot be.
  std::string LoadForReload(pugi::xml_document& document) const;
  void ApplyReload(std::unique_ptr<pugi::xml_document> document) EXCLUDES(FTickLock);
  // The thermometers and the shutdowns; on the owner thread or with the tick thread kept away.
  TWatchState SavedWatch(bool withHistory) const;
  // The alarms the outboxes have not sent.
  void AddUnfinishedJobs(TWatchState& state) const;
  // Tick thread: writes the state file when it is due.
  void SaveStateIfDue() EXCLUDES(FTickLock);

  TSubserviceFactory FFactory;
  const TPlatformViewFactories FViewFactories;
  const TEventLogger FEvents{EventSource};
  const std::unique_ptr<TStateFile> FStateFile;  // none when the creator names no file
  // Members, so that they outlive the subservices, which the destructor's body frees.
  const std::shared_ptr<TStatusBoard> FStatusBoard = std::make_shared<TStatusBoard>();
  TShutdownTimers FShutdownTimers{*FStatusBoard, [this](pugi::xml_node root) { ShutdownComputer(root); }};
  TOutbox FMailOutbox{"E-mail", FEvents, [this] { NoteStateChange(); }};
  TOutbox FHttpOutbox{"HTTP", FEvents};
  TOutbox FWebhookOutbox{"Webhook", FEvents, [this] { NoteStateChange(); }};
  std::unique_ptr<THeartbeat> FHeartbeat;              // created on the owner thread before ticking starts
  std::unique_ptr<TThreadRunner> FRunner;              // owner thread only
  std::vector<std::unique_ptr<TPlatformView>> FViews;  // owner thread only
  TMutex FTickLock;       // guards the children against the tick thread: see TickLock
  TStopSignal FTickStop;  // wakes the tick thread from its pause when the platform goes
  TProgressMark FTickProgress;
  // Loaded by the constructor, read-only after; a reload replaces it with the tick thread kept away.
  std::unique_ptr<pugi::xml_document> FConfig = std::make_unique<pugi::xml_document>();
};

// Seconds from the start of the tick thread to the first tick: 30, or less when
// DUZEZEVOVIVO_FIRST_TICK says so, so that fault drills and demos need not wait half a minute.
std::chrono::milliseconds FirstTickDelay();

}  // namespace duz
