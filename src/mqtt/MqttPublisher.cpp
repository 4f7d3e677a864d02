#include "mqtt/MqttPublisher.h"

#include <chrono>

#include "base/Clock.h"
#include "base/EventLogger.h"
#include "log/ThreadUtils.h"
#include "status/StatusBoard.h"

namespace duz {
namespace {

static_assert(DiscoveryExpireAfter > 2 * TMqttPublisher::RefreshPeriod,
              "Home Assistant would show a steady temperature as unknown between two publications");

// How long the thread waits for a change before it looks whether a temperature is due again.
constexpr auto DueCheckPeriod = std::chrono::milliseconds(1000);

}  // namespace

TMqttPublisher::TMqttPublisher(const TMqttSettings& settings, TStatusBoard& board,
                               TMqttConnection::TWarn warn)
    : FSettings(settings),
      FBoard(board),
      FConnection(settings, std::move(warn)),
      FThread(std::make_unique<TThreadRunner>([this](TThreadRunner& thread) { Run(thread); })) {}

TMqttPublisher::~TMqttPublisher() {
  FThread->Terminate();
  FBoard.NoteChange();  // wakes the thread from its wait; other readers take one more snapshot
  FThread.reset();
}

void TMqttPublisher::Run(TThreadRunner& thread) {
  SetThreadName("MQTT publisher");
  while (!thread.Terminated()) {
    const TPlatformSnapshot snapshot = FBoard.TakeSnapshot();
    Offer(SnapshotMessages(FSettings, snapshot), MonotonicNow());
    FBoard.WaitForChange(snapshot.Sequence, DueCheckPeriod);
  }
}

void TMqttPublisher::Offer(const TMqttMessages& messages, TMonotonicTime now) {
  for (const auto& [topic, message] : messages) {
    auto offered = FOffered.find(topic);
    const bool changed = offered == FOffered.end() || offered->second.Message != message;
    const bool due = message.Refresh && !changed && now - offered->second.Time >= RefreshPeriod;
    if (!changed && !due) continue;
    FConnection.PublishToBroker(topic, message);
    FOffered[topic] = {message, now};
  }
}

std::unique_ptr<TPlatformView> CreateMqttPublisher(const pugi::xml_document& config, TStatusBoard& board,
                                                   const TEventLogger& events) {
  const pugi::xml_node element = FindMqttElement(config);
  if (!element) return nullptr;
  return std::make_unique<TMqttPublisher>(
      ReadMqttSettings(element, DefaultMqttClientId()), board,
      [&events](const std::string& text) { events.LogEvent(text, EVENTLOG_WARNING_TYPE, 0, 0); });
}

}  // namespace duz
