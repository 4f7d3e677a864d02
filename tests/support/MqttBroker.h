#pragma once
// A real MQTT broker (mosquitto) for one test: a configuration written by the test, a free port of
// 127.0.0.1, no persistence (a restart forgets every retained message), optionally TLS with a CA and
// a server certificate for 127.0.0.1 made at run time, and a client certificate that it requires.
// Stopped at the end.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/TempDir.h"

namespace duz::test {

class TMqttBroker {
 public:
  // requireClientCertificate: with TLS, only clients with a certificate of the CA are served.
  explicit TMqttBroker(bool tls = false, bool requireClientCertificate = false);
  ~TMqttBroker();

  int Port() const { return FPort; }
  // The CA that signed the server's certificate (TLS only).
  std::string CaFile() const { return FDir.File("ca.pem"); }
  // A client certificate and its key, signed by that CA (when one is required).
  bool RequiresClientCertificate() const { return FRequireClientCertificate; }
  std::string ClientCertFile() const { return FDir.File("client.pem"); }
  std::string ClientKeyFile() const { return FDir.File("client.key"); }
  // Ends the broker at once (SIGKILL) and waits for it.
  void Stop();
  // Starts it again on the same port; returns once it accepts connections.
  void Start();

 private:
  TTempDir FDir;
  int FPort = 0;
  bool FRequireClientCertificate;
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
