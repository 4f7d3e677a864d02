#pragma once
// TMqttPublisher: the platform's readings on an MQTT broker (the MQTT element). Its own thread waits
// for a change on the platform's status board, takes a snapshot, and hands the connection each message that
// differs from what it handed last, and each temperature again once a minute has passed (on the
// settable monotonic clock, so that a step of the wall clock neither holds nor hurries it). Nothing of it
// runs on the owner or the tick thread. Created and destroyed by the platform on its owner thread.
#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "base/Clock.h"
#include "base/ThreadRunner.h"
#include "mqtt/MqttConnection.h"
#include "status/PlatformView.h"

namespace duz {

class TStatusBoard;

class TMqttPublisher : public TPlatformView {
 public:
  // warn: the connection's warnings, from its network thread. The board outlives the publisher.
  TMqttPublisher(const TMqttSettings& settings, TStatusBoard& board, TMqttConnection::TWarn warn);
  ~TMqttPublisher() override;

  // How often an unchanged temperature is sent again.
  static constexpr std::chrono::minutes RefreshPeriod{1};

 private:
  struct TOffered {
    TMqttMessage Message;
    TMonotonicTime Time;
  };

  void Run(TThreadRunner& thread);
  void Offer(const TMqttMessages& messages, TMonotonicTime now);

  const TMqttSettings FSettings;
  TStatusBoard& FBoard;
  TMqttConnection FConnection;
  std::map<std::string, TOffered> FOffered;  // publisher thread only
  std::unique_ptr<TThreadRunner> FThread;    // after what it uses: it stops first
};

// The publisher that the configuration's MQTT element asks for, or nullptr without one. Raises for
// a bad element. Warnings go to events.
std::unique_ptr<TPlatformView> CreateMqttPublisher(const pugi::xml_document& config, TStatusBoard& board,
                                                   const TEventLogger& events);

}  // namespace duz
