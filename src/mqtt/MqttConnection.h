#pragma once
// TMqttConnection: the session with the MQTT broker, kept by a network thread of its own that makes
// every libmosquitto call, so that no watch thread ever waits for the broker.
// PublishToBroker (any thread) keeps the newest message of each topic; every message is retained.
// The thread hands the broker what is new while the session is up, and everything again after each
// connection, so that a broker that lost its retained messages (a restart without persistence) gets
// them back.
// While the broker is away the newest message per topic is all that is kept: a bound of the number of
// topics. Until libmosquitto has written what it was handed and the broker has acknowledged it, it
// is handed nothing more, so that its own queue holds at most one message per topic too.
// The status topic says "online" after each connection and "offline" at the end; the broker says
// "offline" for us (the will) when the process vanishes. A failed attempt is retried after 1 s, then
// 2 s, 4 s ... at most 60 s; a working connection starts that over. Each loss (and a first attempt
// that fails) is one warning through warn and one DebugMode line; the way back is another line.
// A password sent in clear to a broker off this computer is one warning through warn per connection
// object. Created and destroyed on one thread (the platform's owner); the destructor publishes
// "offline" and disconnects, waiting at most MaxGoodbyeWait for the broker, and waits for the thread
// at most MaxStopWait: a thread still in a name look-up of the broker is left behind with what it
// uses, as the outboxes leave a worker, and ends when the look-up does.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "mqtt/MqttMessages.h"
#include "mqtt/MqttSettings.h"

namespace duz {

class TMqttConnection {
 public:
  using TWarn = std::function<void(const std::string& text)>;

  static constexpr std::chrono::seconds FirstRetryPause{1};
  static constexpr std::chrono::seconds MaxRetryPause{60};
  // An attempt whose broker has not accepted the session by then is given up and retried.
  static constexpr std::chrono::seconds MaxConnectTime{30};
  static constexpr std::chrono::milliseconds MaxGoodbyeWait{1000};
  static constexpr std::chrono::seconds MaxStopWait{2};
  static constexpr int KeepAliveSeconds = 60;

  // Raises Exception for settings that libmosquitto refuses (an unreadable cafile), for client
  // certificate files that do not load (CheckKeyPair), and when libmosquitto cannot be loaded.
  TMqttConnection(const TMqttSettings& settings, TWarn warn);
  ~TMqttConnection();
  TMqttConnection(const TMqttConnection&) = delete;
  TMqttConnection& operator=(const TMqttConnection&) = delete;

  void PublishToBroker(const std::string& topic, const TMqttMessage& message);

 private:
  class TSession;

  std::shared_ptr<TSession> FSession;  // shared with the thread, which may outlive this object
  std::thread FThread;
};

}  // namespace duz
