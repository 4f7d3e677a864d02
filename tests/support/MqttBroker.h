#pragma once
// A real MQTT broker (mosquitto) for one test: a configuration written by the test, a free port of
// 127.0.0.1, no persistence (a restart forgets every retained message), optionally TLS with a CA and
// a server certificate for 127.0.0.1 made at run time. Stopped at the end.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace duz::test {

class TMqttBroker {
 public:
  explicit TMqttBroker(bool tls = false);
  ~TMqttBroker();

  int Port() const { return FPort; }
  // The CA that signed the server's certificate (TLS only).
  std::string CaFile() const { return FDir.File("ca.pem"); }
  // Ends the broker at once (SIGKILL) and waits for it.
  void Stop();
  // Starts it again on the same port; returns once it accepts connections.
  void Start();

 private:
  TTempDir FDir;
  int FPort = 0;
  std::unique_ptr<TChildProcess> FProcess;
};

// A real subscriber (mosquitto_sub, QoS 1) that records every message with its retain flag and QoS.
struct TMqttReceived {
  bool Retained;
  int Qos;
  std::string Payload;
};

class TMqttSubscriber {
 public:
  TMqttSubscriber(const TMqttBroker& broker, const std::string& filter, bool tls = false);
  // Waits until a message with that payload has arrived on the topic.
  bool WaitFor(const std::string& topic, const std::string& payload,
               std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
  // What arrived on the topic, in order.
  std::vector<TMqttReceived> Received(const std::string& topic) const;
  std::vector<std::string> Payloads(const std::string& topic) const;
  std::string Output() const { return FProcess.Stdout() + FProcess.Stderr(); }

 private:
  TChildProcess FProcess;
};

}  // namespace duz::test
