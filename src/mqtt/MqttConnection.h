#pragma once
// TMqttConnection: the session with the MQTT broker, kept by a network thread of its own that makes
// every libmosquitto call, so that no watch thread ever waits for the broker.
// Publish (any thread) keeps the newest message of each topic; every message is retained. The thread
// hands the broker what is new while the session is up, and everything again after each connection,
// so that a broker that lost its retained messages (a restart without persistence) gets them back.
// While the broker is away the newest message per topic is all that is kept: a bound of the number of
// topics. Until libmosquitto has written what it was handed and the broker has acknowledged it, it
// is handed nothing more, so that its own queue holds at most one message per topic too.
// The status topic says "online" after each connection and "offline" at the end; the broker says
// "offline" for us (the will) when the process vanishes. A failed attempt is retried after 1 s, then
// 2 s, 4 s ... at most 60 s; a working connection starts that over. Each loss (and a first attempt
// that fails) is one warning through warn and one DebugMode line; the way back is another line.
// Created and destroyed on one thread (the platform's owner); the destructor publishes "offline" and
// disconnects, waiting at most MaxGoodbyeWait for the broker.
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>

#include "base/Thread.h"
#include "mqtt/MqttMessages.h"
#include "mqtt/MqttSettings.h"

struct mosquitto;

namespace duz {

class TMqttConnection : private TThread {
 public:
  using TWarn = std::function<void(const std::string& text)>;

  static constexpr std::chrono::seconds FirstRetryPause{1};
  static constexpr std::chrono::seconds MaxRetryPause{60};
  // An attempt whose broker has not accepted the session by then is given up and retried.
  static constexpr std::chrono::seconds MaxConnectTime{30};
  static constexpr std::chrono::milliseconds MaxGoodbyeWait{1000};
  static constexpr int KeepAliveSeconds = 60;

  // Raises Exception for settings that libmosquitto refuses (an unreadable cafile), and for client
  // certificate files that do not load (CheckKeyPair).
  TMqttConnection(const TMqttSettings& settings, TWarn warn);
  ~TMqttConnection() override;

  void Publish(const std::string& topic, const TMqttMessage& message);

 private:
  struct TEntry {
    TMqttMessage Message;
    bool Sent = false;  // handed to libmosquitto in the current session
  };

  void Configure();
  void Release();
  void Execute() override;
  // Runs one attempt and its session until it ends; returns the reason it ended, or "" after a stop.
  std::string Attempt();
  void WaitForTraffic();
  void Pause(std::chrono::steady_clock::time_point until);
  void Wake();
  void Flush();
  void Send(const std::string& topic, const TMqttMessage& message);
  // The broker has accepted the session: "online", then every topic again.
  void Greet();
  void Lost(const std::string& reason);
  void Goodbye();
  std::string Endpoint() const;

  const TMqttSettings FSettings;
  const std::string FStatusTopic;
  const TWarn FWarn;
  int FWake = -1;  // an eventfd: new messages or the stop
  mosquitto* FMosq = nullptr;

  std::mutex FLock;
  std::map<std::string, TEntry> FLatest;  // guarded by FLock

  // Network thread only.
  bool FSessionUp = false;
  bool FAway = false;             // the loss has been reported
  int FAnswer = -1;               // the broker's answer to the last attempt (0: accepted); -1: none yet
  std::string FLibraryError;      // libmosquitto's last error line in the current attempt
  std::set<int> FUnacknowledged;  // ids of QoS 1 messages the broker has not acknowledged yet
};

}  // namespace duz
