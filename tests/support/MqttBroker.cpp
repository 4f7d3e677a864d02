#include "support/MqttBroker.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <sstream>
#include <stdexcept>

#include "support/Env.h"
#include "support/LoopbackServer.h"

namespace duz::test {
namespace {

using namespace std::chrono_literals;

bool Accepts(int port) {
  const int fd = ConnectLoopback(port);
  if (fd >= 0) close(fd);
  return fd >= 0;
}

// A CA and a server certificate for the IP address 127.0.0.1, and a client certificate, all valid
// for a day.
void MakeCertificates(const TTempDir& dir) {
  const std::string script =
      "set -e; cd '" + dir.Path().string() +
      "'\n"
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
      "-subj '/CN=Test CA' -keyout ca.key -out ca.pem 2>/dev/null\n"
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=127.0.0.1' "
      "-keyout server.key -out server.csr 2>/dev/null\n"
      "printf 'subjectAltName=IP:127.0.0.1\\n' > san.ext\n"
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 "
      "-extfile san.ext -out server.pem 2>/dev/null\n"
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -subj '/CN=duzezevovivo' "
      "-keyout client.key -out client.csr 2>/dev/null\n"
      "openssl x509 -req -in client.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 "
      "-out client.pem 2>/dev/null\n";
  TChildProcess openssl({"sh", "-c", script});
  if (openssl.Wait(30s) != 0) throw std::runtime_error("openssl could not make the certificates");
}

}  // namespace

TMqttBroker::TMqttBroker(bool tls, bool requireClientCertificate)
    : FPort(UnusedPort()), FRequireClientCertificate(requireClientCertificate) {
  std::string config = "listener " + std::to_string(FPort) +
                       " 127.0.0.1\n"
                       "allow_anonymous true\n"
                       "persistence false\n"
                       "log_dest stderr\n";
  // As root the broker would change to its own user, which cannot read the test's files.
  if (geteuid() == 0) config += "user root\n";
  if (tls) {
    MakeCertificates(FDir);
    config += "cafile " + FDir.File("ca.pem") + "\ncertfile " + FDir.File("server.pem") + "\nkeyfile " +
              FDir.File("server.key") + "\n";
    if (requireClientCertificate) config += "require_certificate true\n";
  }
  FDir.Write("mosquitto.conf", config);
  Start();
}

TMqttBroker::~TMqttBroker() { Stop(); }

void TMqttBroker::Stop() {
  if (!FProcess) return;
  // Just after its start the broker has been seen to sit on a SIGTERM for more than 10 s; a killed
  // broker looks the same to its clients.
  FProcess->Signal(SIGKILL);
  FProcess->Wait(10s);
  FProcess.reset();
}

void TMqttBroker::Start() {
  FProcess = std::make_unique<TChildProcess>(
      std::vector<std::string>{"/usr/sbin/mosquitto", "-c", FDir.File("mosquitto.conf")});
  if (!WaitUntil([this] { return Accepts(FPort); }, 10s))
    throw std::runtime_error("the broker does not listen: " + FProcess->Stderr());
}

TMqttSubscriber::TMqttSubscriber(const TMqttBroker& broker, const std::string& filter, bool tls)
    : FProcess([&] {
        std::vector<std::string> argv = {"mosquitto_sub",
                                         "-h",
                                         "127.0.0.1",
                                         "-p",
                                         std::to_string(broker.Port()),
                                         "-t",
                                         filter,
                                         "-q",
                                         "1",
                                         "-F",
                                         "%r %q %t %p"};
        if (tls) argv.insert(argv.end(), {"--cafile", broker.CaFile()});
        if (broker.RequiresClientCertificate())
          argv.insert(argv.end(), {"--cert", broker.ClientCertFile(), "--key", broker.ClientKeyFile()});
        return argv;
      }()) {}

bool TMqttSubscriber::WaitFor(const std::string& topic, const std::string& payload,
                              std::chrono::milliseconds timeout) const {
  return WaitUntil(
      [&] {
        const std::vector<std::string> payloads = Payloads(topic);
        return std::find(payloads.begin(), payloads.end(), payload) != payloads.end();
      },
      timeout);
}

std::vector<TMqttReceived> TMqttSubscriber::Received(const std::string& topic) const {
  std::vector<TMqttReceived> received;
  std::istringstream lines(FProcess.Stdout());
  for (std::string line; std::getline(lines, line);) {
    // "<retained 0|1> <qos> <topic> <payload>"
    if (line.size() < 4 || line.compare(4, topic.size() + 1, topic + " ") != 0) continue;
    received.push_back({line[0] == '1', line[2] - '0', line.substr(5 + topic.size())});
  }
  return received;
}

std::vector<std::string> TMqttSubscriber::Payloads(const std::string& topic) const {
  std::vector<std::string> payloads;
  for (const TMqttReceived& message : Received(topic)) payloads.push_back(message.Payload);
  return payloads;
}

}  // namespace duz::test
