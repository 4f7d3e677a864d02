#include "core/Heartbeat.h"

#include "base/EventLoop.h"
#include "base/Exception.h"
#include "config/ConfigRules.h"
#include "config/ConfigValues.h"
#include "log/Logger.h"
#include "net/Outbox.h"

namespace duz {

struct THeartbeatState {
  std::atomic<bool> InFlight{false};  // a ping waits in the outbox or is being sent
  std::atomic<bool> Failing{false};   // the last ping failed, and the event log has been told
  std::atomic<uint64_t> Answered{0};  // the last tick whose question the owner loop has answered
};

namespace {

// One ping, tried once. Whatever becomes of it (sent, dropped at the outbox's bound, dropped at the
// end), the next one may be queued once it is gone.
class TPingJob : public TOutboxJob {
 public:
  TPingJob(THttpRequest request, std::shared_ptr<THeartbeatState> state)
      : FRequest(std::move(request)), FState(std::move(state)) {}
  ~TPingJob() override { FState->InFlight = false; }

  std::optional<std::chrono::seconds> Attempt(const TEventLogger& events) override {
    const std::string url = UrlWithoutCredentials(FRequest.Url);
    DebugLog("HEARTBEAT GET - url: ", url);
    const std::string failure = HttpFailure(SendHttpRequest(FRequest));
    DebugLog("HEARTBEAT GET - rcv: ", (failure.empty() ? std::string("ok") : failure));
    if (failure.empty())
      FState->Failing = false;
    else if (!FState->Failing.exchange(true))
      events.LogEvent("Heartbeat to " + url + " failed: " + failure, EVENTLOG_WARNING_TYPE, 0, 0);
    return std::nullopt;
  }
  std::string DroppedLine() const override {
    return "HEARTBEAT GET - dropped: " + UrlWithoutCredentials(FRequest.Url);
  }

 private:
  THttpRequest FRequest;
  std::shared_ptr<THeartbeatState> FState;
};

// "/fail" at the end of the URL's path, before a query or fragment.
std::string FailUrl(const std::string& url) {
  std::string result = url;
  const std::size_t scheme = url.find("://");
  return result.insert(std::min(url.find_first_of("?#", scheme + 3), url.size()), "/fail");
}

TEventLoop& OwnerLoop() {
  TEventLoop* loop = TEventLoop::Current();
  if (!loop) throw Exception("No event loop on this thread for the heartbeat");
  return *loop;
}

}  // namespace

THeartbeat::THeartbeat(pugi::xml_node element, TOutbox& outbox)
    : FPings(ReadPings(element)),
      FInterval(static_cast<int64_t>(ReadNumber(element, AttributeRule("HEARTBEAT", "interval")))),
      FOutbox(outbox),
      FOwnerLoop(OwnerLoop()),
      FState(std::make_shared<THeartbeatState>()) {}

THeartbeat::~THeartbeat() = default;

THeartbeatPings THeartbeat::ReadPings(pugi::xml_node element) {
  THeartbeatPings pings{HttpTarget(element, "HEARTBEAT"), {}};
  pings.Failing = pings.Healthy;
  pings.Failing.Url = ReadText(element, AttributeRule("HEARTBEAT", "failurl"));
  if (pings.Failing.Url.empty()) pings.Failing.Url = FailUrl(pings.Healthy.Url);
  return pings;
}

void THeartbeat::Tick(bool thermometersConnected) {
  ++FTicks;
  const bool ownerLoopAnswers = FTicks - FState->Answered <= MaxOwnerSilenceTicks;
  FOwnerLoop.Post([state = FState, tick = FTicks] { state->Answered = tick; });
  const TMonotonicTime now = MonotonicNow();
  if ((FLastPing && now - *FLastPing < FInterval) || FState->InFlight.exchange(true)) return;
  FLastPing = now;
  FOutbox.Enqueue(std::make_unique<TPingJob>(
      thermometersConnected && ownerLoopAnswers ? FPings.Healthy : FPings.Failing, FState));
}

}  // namespace duz
