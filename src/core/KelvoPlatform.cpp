#include "core/KelvoPlatform.h"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/Clock.h"
#include "base/MutexLock.h"
#include "base/ProcessMemory.h"
#include "base/ThreadRunner.h"
#include "config/ConfigCheck.h"
#include "config/ConfigFile.h"
#include "config/ConfigRules.h"
#include "config/Registry.h"
#include "config/XmlHelpers.h"
#include "core/Heartbeat.h"
#include "core/Kelvo.h"
#include "core/MailJob.h"
#include "core/Shutdown.h"
#include "core/StateFile.h"
#include "core/WebhookJob.h"
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
                               const TStopSignal* stop, const std::string& stateFile)
    : TComponent(owner),
      FFactory(std::move(factory)),
      FViewFactories(std::move(views)),
      FStateFile(stateFile.empty() ? nullptr : std::make_unique<TStateFile>(stateFile, FEvents)) {
  DebugLog("KelvoPlatform create");
  std::optional<TWatchState> saved = FStateFile ? FStateFile->Load() : std::nullopt;
  if (saved) DiscardOtherBoot(*saved);
  try {
    LoadConfiguration(stop, saved ? &*saved : nullptr);
    if (saved) Resume(*saved);
  } catch (...) {
    // The subservices hold elements of FConfig, which goes before the base class frees them.
    FShutdownTimers.Stop();
    FreeOwnedComponents(*this);
    throw;
  }
  saved.reset();
  ReleaseFreeMemory();
  const TMonotonicTime startTime = MonotonicNow() + FirstTickDelay();
  FTickProgress.Mark();  // the loading, with its WAIT pauses, is not the tick loop's silence
  FRunner = std::make_unique<TThreadRunner>(
      [this, startTime](TThreadRunner& thread) { TickLoop(thread, startTime); });
  StartViews();
  DebugLog("KelvoPlatform created");
}

TKelvoPlatform::~TKelvoPlatform() {
  DebugLog("KelvoPlatform destroy");
  StopViews();
  StopTicking();
  std::optional<TWatchState> state;
  if (FStateFile) state = SavedWatch(true);
  FShutdownTimers.Stop();
  FreeOwnedComponents(*this);
  // All at once, so that their workers' grace periods run side by side.
  FMailOutbox.Close();
  FHttpOutbox.Close();
  FWebhookOutbox.Close();
  if (state) {
    // An alarm still on its way when the grace period ends is kept too: better twice than never.
    FMailOutbox.WaitForWorker();
    FWebhookOutbox.WaitForWorker();
    AddUnfinishedJobs(*state);
    FStateFile->Write(std::move(*state), true);
  }
  DebugLog("KelvoPlatform destroyed");
}

bool TKelvoPlatform::LoadConfiguration(const TStopSignal* stop, const TWatchState* saved) {
  DebugLog("KelvoPlatform configuration load");
  const std::string path = ConfigFilePath();
  const bool found = LoadConfigFile(*FConfig, path).has_value();
  if (found) {
    for (pugi::xml_node node : FConfig->document_element().children()) {
      const std::string_view name = ElementRuleName(node, "");
      if (name == "WAIT")
        PauseSeconds(GetAttrDef(node, "wait", 10).ToDouble(), stop);
      else if (name == "HEARTBEAT" && !FHeartbeat)
        StartHeartbeat(node);
      else if (name == "KELVO")
        CreateSubservice(node, saved);
    }
  } else {
    LogEvent("Config file not found! (" + path + ")", EVENTLOG_ERROR_TYPE, 0, 0);
  }
  DebugLog("KelvoPlatform confuguration loaded");
  return found;
}

void TKelvoPlatform::CreateSubservice(pugi::xml_node element, const TWatchState* saved) {
  const int before = ComponentCount();
  try {
    FFactory(*this, element);
  } catch (const std::exception& error) {
    // The element says which thermometer, the error what to mend in it.
    DebugLog("Cannot create Kelvo subservice! ", error.what());
    LogEvent("Cannot create Kelvo subservice!\r" + ElementXml(element) + "\r" + error.what(),
             EVENTLOG_ERROR_TYPE, 0, 0);
    return;
  }
  if (saved && ComponentCount() > before)
    if (auto* subservice = dynamic_cast<TKelvo*>(Component(ComponentCount() - 1)))
      subservice->Restore(*saved);
}

std::vector<TKelvo*> TKelvoPlatform::Subservices() const {
  std::vector<TKelvo*> subservices;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* subservice = dynamic_cast<TKelvo*>(Component(i))) subservices.push_back(subservice);
  return subservices;
}

// A view that cannot start is reported; the watch goes on without it.
void TKelvoPlatform::StartViews() {
  for (const TPlatformViewFactory& factory : FViewFactories) {
    try {
      if (std::unique_ptr<TPlatformView> view = factory(*FConfig, *FStatusBoard, FEvents))
        FViews.push_back(std::move(view));
    } catch (const std::exception& error) {
      DebugLog("! ", error.what());  // -debug shows why a view is missing
      LogEvent(error.what(), EVENTLOG_ERROR_TYPE, 0, 0);
    }
  }
}

void TKelvoPlatform::StopViews() {
  while (!FViews.empty()) FViews.pop_back();
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
  for (TKelvo* subservice : Subservices()) {
    subservice->Tick();
    connected = connected && subservice->IsConnected();
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
  NoteStateChange();
  RequestSystemShutdown(flags, FEvents);
}

void TKelvoPlatform::NoteStateChange() {
  if (FStateFile) FStateFile->NoteChange();
}

TWatchState TKelvoPlatform::SavedWatch(bool withHistory) const {
  TWatchState state;
  for (const TKelvo* subservice : Subservices()) state.Thermometers.push_back(subservice->Saved(withHistory));
  for (const TShutdownTimers::TArmed& armed : FShutdownTimers.Armed())
    state.Shutdowns.push_back({WallMsOf(armed.Due), armed.Period});
  return state;
}

void TKelvoPlatform::AddUnfinishedJobs(TWatchState& state) const {
  for (const auto& job : FMailOutbox.Unfinished())
    if (const auto* mail = dynamic_cast<const TMailJob*>(job.get())) state.Mails.push_back(mail->Saved());
  for (const auto& job : FWebhookOutbox.Unfinished())
    if (const auto* webhook = dynamic_cast<const TWebhookJob*>(job.get()))
      state.Webhooks.push_back(webhook->Saved());
}

// The file is written outside the tick lock, so that a reload or a shutdown never waits for the disk.
void TKelvoPlatform::SaveStateIfDue() {
  const TStateDue due = FStateFile ? FStateFile->Due() : TStateDue::Nothing;
  if (due == TStateDue::Nothing) return;
  const bool withHistory = due == TStateDue::StateAndHistory;
  TWatchState state;
  {
    TMutexLock lock(FTickLock);
    state = SavedWatch(withHistory);
  }
  AddUnfinishedJobs(state);
  FStateFile->Write(std::move(state), withHistory);
}

// A restored file must never shut a freshly started computer down again. An off state goes with its
// shutdown, so that a reading above off arms a new one as in a first run.
void TKelvoPlatform::DiscardOtherBoot(TWatchState& saved) const {
  if (!saved.BootId.empty() && saved.BootId == FStateFile->BootId()) return;
  if (!saved.Shutdowns.empty())
    LogEvent(fmt::format("{} armed shutdown(s) of the previous run discarded: the computer has been started "
                         "again since",
                         saved.Shutdowns.size()),
             EVENTLOG_WARNING_TYPE, 0, 0);
  saved.Shutdowns.clear();
  for (TSavedThermometer& thermometer : saved.Thermometers)
    for (TSavedCondition& condition : thermometer.Conditions)
      if (condition.State == stOff) condition.State = stNone;
}

void TKelvoPlatform::Resume(TWatchState& saved) {
  const pugi::xml_node root = FConfig->document_element();
  const TWallMs now = WallMsOf(MonotonicNow());
  for (const TSavedShutdown& shutdown : saved.Shutdowns) {
    const std::chrono::milliseconds left(std::max<TWallMs>(shutdown.Due - now, 0));
    if (left.count() == 0)
      LogEvent("An armed shutdown came due at " +
                   IsoDateTime(ToLocalDateTime(
                       std::chrono::system_clock::time_point(std::chrono::milliseconds(shutdown.Due)))) +
                   " while the service was not running: the computer is shut down now",
               EVENTLOG_WARNING_TYPE, 0, 0);
    FShutdownTimers.Start(root, shutdown.Period, left);
  }
  const auto statusOf = [this](const std::string& caption) -> std::shared_ptr<TKelvoStatus> {
    for (const TKelvo* subservice : Subservices())
      if (subservice->GetCaption() == caption) return subservice->SharedStatus();
    return nullptr;
  };
  if (!saved.Mails.empty()) {
    try {
      const TSmtpSettings settings = ReadSmtpSettings(root.child("SMTP"));
      for (TSavedMail& mail : saved.Mails) {
        std::shared_ptr<TKelvoStatus> status = statusOf(mail.Caption);
        FMailOutbox.Enqueue(std::make_unique<TMailJob>(settings, std::move(mail), std::move(status)));
      }
    } catch (const std::exception& error) {
      LogEvent(fmt::format("{} e-mail(s) of the previous run not sent: {}", saved.Mails.size(), error.what()),
               EVENTLOG_ERROR_TYPE, 0, 0);
    }
  }
  for (TSavedWebhook& webhook : saved.Webhooks)
    FWebhookOutbox.Enqueue(std::make_unique<TWebhookJob>(std::move(webhook)));
}

void TKelvoPlatform::Reload() {
  DebugLog("KelvoPlatform reload");
  auto document = std::make_unique<pugi::xml_document>();
  if (const std::string refusal = LoadForReload(*document); !refusal.empty()) {
    DebugLog("KelvoPlatform not reloaded: ", refusal);
    LogEvent("Configuration not reloaded, the running one stays: " + refusal, EVENTLOG_ERROR_TYPE, 0, 0);
    return;
  }
  ApplyReload(std::move(document));
  DebugLog("KelvoPlatform reloaded");
  LogEvent("Configuration reloaded", EVENTLOG_INFORMATION_TYPE, 0, 0);
}

std::string TKelvoPlatform::LoadForReload(pugi::xml_document& document) const {
  try {
    const std::string path = ConfigFilePath();
    const std::optional<std::string> text = LoadConfigFile(document, path);
    if (!text) return "Config file not found! (" + path + ")";
    std::string errors;
    for (const TConfigFinding& finding : CheckConfiguration(document, *text))
      if (finding.Error)
        errors += "\r" + FormatFinding(path, PositionAt(*text, finding.Offset), true, finding.Text);
    if (!errors.empty()) return "errors in the configuration" + errors;
    LoadRegionalSettings();
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

namespace {

// What the views read: the root's elements but those the platform and its conditions read.
std::string ViewSettings(pugi::xml_node root) {
  std::string text;
  for (pugi::xml_node node : root.children()) {
    const std::string_view name = ElementRuleName(node, "");
    if (name != "KELVO" && name != "WAIT" && name != "HEARTBEAT" && name != "SMTP" && name != "SHUTDOWN")
      text += ElementXml(node);
  }
  return text;
}

}  // namespace

void TKelvoPlatform::ApplyReload(std::unique_ptr<pugi::xml_document> document) {
  const pugi::xml_node root = document->document_element();
  const pugi::xml_node oldRoot = FConfig->document_element();
  // Each KELVO element keeps the first running thermometer of the same text not yet taken.
  std::vector<TKelvo*> running = Subservices();
  std::vector<std::pair<pugi::xml_node, TKelvo*>> plan;
  for (pugi::xml_node node : root.children()) {
    if (ElementRuleName(node, "") != "KELVO") continue;
    const std::string text = ElementXml(node);
    const auto same = std::find_if(running.begin(), running.end(), [&](const TKelvo* kelvo) {
      return kelvo && ElementXml(kelvo->Element()) == text;
    });
    plan.emplace_back(node, same == running.end() ? nullptr : std::exchange(*same, nullptr));
  }
  const bool viewsChanged = ViewSettings(oldRoot) != ViewSettings(root);
  if (viewsChanged) StopViews();
  {
    TMutexLock lock(FTickLock);
    // Those changed or gone go first, so that their ports and TCP ports are free for the new ones.
    TWatchState carried;
    for (auto gone = running.rbegin(); gone != running.rend(); ++gone)
      if (*gone) {
        carried.Thermometers.push_back((*gone)->Saved(true));
        delete *gone;
      }
    for (const auto& [node, kept] : plan)
      if (kept) kept->MoveTo(node);
    FShutdownTimers.MoveTo(oldRoot, root);
    const pugi::xml_node heartbeat = FindRuleChild(root, "", "HEARTBEAT");
    if (ElementXml(heartbeat) != ElementXml(FindRuleChild(oldRoot, "", "HEARTBEAT"))) {
      FHeartbeat.reset();
      if (heartbeat) StartHeartbeat(heartbeat);
    }
    std::swap(FConfig, document);
    for (const auto& [node, kept] : plan)
      if (!kept) CreateSubservice(node, &carried);
  }
  if (viewsChanged) StartViews();
  NoteStateChange();
}

// An exception from a tick ends the loop; the runner swallows it. A start time that has already
// come (a first tick without delay) ticks before the first pause.
void TKelvoPlatform::TickLoop(TThreadRunner& thread, TMonotonicTime startTime) {
  do {
    if (MonotonicNow() >= startTime) TickSubservices();
    SaveStateIfDue();
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
