#include "mqtt/MqttConnection.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "base/Exception.h"
#include "base/MutexLock.h"
#include "log/Logger.h"
#include "log/ThreadUtils.h"
#include "mqtt/MosquittoLibrary.h"
#include "net/HostAddress.h"
#include "net/TlsKeyPair.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// The longest the thread sleeps without looking at the connection: libmosquitto's keep-alive and
// time-outs run from it.
constexpr int PollPeriodMs = 1000;
constexpr const char* OsCaPath = "/etc/ssl/certs";

const TMosquittoLibrary& LoadLibrary() {
  try {
    return TMosquittoLibrary::Load();
  } catch (const Exception& error) {
    throw Exception("MQTT: " + error.Message());
  }
}

}  // namespace

// Everything the network thread uses, so that a thread left behind at the end keeps it alive.
class TMqttConnection::TSession {
 public:
  TSession(const TMqttSettings& settings, TWarn warn);
  ~TSession();

  void PublishToBroker(const std::string& topic, const TMqttMessage& message);
  void Run();
  // Asks the thread to end; true once it has, within timeout.
  bool Stop(std::chrono::milliseconds timeout);

 private:
  struct TEntry {
    TMqttMessage Message;
    bool Sent = false;  // handed to libmosquitto in the current session
  };

  static TSession& Of(void* self) { return *static_cast<TSession*>(self); }
  bool Terminated() const { return FTerminated; }
  void Check(int rc, const std::string& what) const;
  void Configure();
  void Release();
  // Runs one attempt and its session until it ends; returns the reason it ended, or "" after a stop.
  std::string Attempt();
  void WaitForTraffic();
  void Pause(TClock::time_point until);
  void Wake();
  void Flush();
  void Send(const std::string& topic, const TMqttMessage& message);
  // The broker has accepted the session: "online", then every topic again.
  void Greet();
  void WarnOfPasswordInClear();
  void Lost(const std::string& reason);
  void Goodbye();
  std::string Endpoint() const;

  const TMosquittoLibrary& FMosquitto;
  const TMqttSettings FSettings;
  const std::string FStatusTopic;
  const TWarn FWarn;
  int FWake = -1;  // an eventfd: new messages or the stop
  mosquitto* FMosq = nullptr;
  std::atomic<bool> FTerminated{false};

  TMutex FLock;
  std::condition_variable FEnd;  // the thread has ended
  std::map<std::string, TEntry> FLatest GUARDED_BY(FLock);
  bool FEnded GUARDED_BY(FLock) = false;

  // Network thread only.
  bool FSessionUp = false;
  bool FAway = false;             // the loss has been reported
  bool FClearWarned = false;      // the password in clear has been warned of
  int FAnswer = -1;               // the broker's answer to the last attempt (0: accepted); -1: none yet
  std::string FLibraryError;      // libmosquitto's last error line in the current attempt
  std::set<int> FUnacknowledged;  // ids of QoS 1 messages the broker has not acknowledged yet
};

TMqttConnection::TMqttConnection(const TMqttSettings& settings, TWarn warn)
    : FSession(std::make_shared<TSession>(settings, std::move(warn))),
      FThread([session = FSession] { session->Run(); }) {}

TMqttConnection::~TMqttConnection() {
  if (FSession->Stop(MaxStopWait))
    FThread.join();
  else
    FThread.detach();  // in a name look-up: it ends, and frees the session, when that returns
}

void TMqttConnection::PublishToBroker(const std::string& topic, const TMqttMessage& message) {
  FSession->PublishToBroker(topic, message);
}

TMqttConnection::TSession::TSession(const TMqttSettings& settings, TWarn warn)
    : FMosquitto(LoadLibrary()),
      FSettings(settings),
      FStatusTopic(MqttTopic(settings, "status")),
      FWarn(std::move(warn)) {
  try {
    Configure();
  } catch (...) {
    Release();
    throw;
  }
}

TMqttConnection::TSession::~TSession() { Release(); }

bool TMqttConnection::TSession::Stop(std::chrono::milliseconds timeout) {
  FTerminated = true;
  Wake();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  TMutexLock lock(FLock);
  while (!FEnded && FLock.WaitUntil(FEnd, deadline) == std::cv_status::no_timeout) {
  }
  return FEnded;
}

void TMqttConnection::TSession::Check(int rc, const std::string& what) const {
  if (rc != MOSQ_ERR_SUCCESS) throw Exception("MQTT: " + what + ": " + FMosquitto.Strerror(rc));
}

void TMqttConnection::TSession::Configure() {
  FWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  FMosq = FMosquitto.New(FSettings.ClientId.c_str(), true, this);
  if (FWake < 0 || !FMosq)
    throw Exception(std::string("MQTT: cannot create the client: ") + std::strerror(errno));
  if (!FSettings.Username.empty())
    Check(FMosquitto.UsernamePwSet(FMosq, FSettings.Username.c_str(), FSettings.Password.c_str()),
          "user name");
  Check(FMosquitto.WillSet(FMosq, FStatusTopic.c_str(), 7, "offline", 1, true), "will");
  if (FSettings.Tls) {
    Check(FMosquitto.IntOption(FMosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1), "TLS");
    // libmosquitto only says that the files are wrong, not why.
    try {
      CheckKeyPair(FSettings.CertFile, FSettings.KeyFile);
    } catch (const Exception& error) {
      throw Exception("MQTT: " + error.Message());
    }
    const char* cert = FSettings.CertFile.empty() ? nullptr : FSettings.CertFile.c_str();
    const char* key = FSettings.KeyFile.empty() ? nullptr : FSettings.KeyFile.c_str();
    // libmosquitto wants a file or a directory of authorities; the system's store is both.
    if (FSettings.CaFile.empty())
      Check(FMosquitto.TlsSet(FMosq, nullptr, OsCaPath, cert, key, nullptr), "TLS");
    else
      Check(FMosquitto.TlsSet(FMosq, FSettings.CaFile.c_str(), nullptr, cert, key, nullptr),
            "cafile \"" + FSettings.CaFile + "\"");
  }
  // Only noted: libmosquitto holds its locks around callbacks, and publishing from one inverts their order.
  FMosquitto.ConnectCallbackSet(FMosq, [](mosquitto*, void* self, int code) { Of(self).FAnswer = code; });
  FMosquitto.PublishCallbackSet(FMosq,
                                [](mosquitto*, void* self, int id) { Of(self).FUnacknowledged.erase(id); });
  FMosquitto.LogCallbackSet(FMosq, [](mosquitto*, void* self, int level, const char* text) {
    if (level & MOSQ_LOG_ERR) Of(self).FLibraryError = text;
    if (level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) DebugLog("MQTT: ", text);
  });
}

void TMqttConnection::TSession::Release() {
  if (FMosq) FMosquitto.Destroy(FMosq);
  if (FWake >= 0) close(FWake);
}

void TMqttConnection::TSession::PublishToBroker(const std::string& topic, const TMqttMessage& message) {
  {
    TMutexLock lock(FLock);
    FLatest[topic] = {message, false};
  }
  Wake();
}

void TMqttConnection::TSession::Wake() {
  const uint64_t one = 1;
  (void)!write(FWake, &one, sizeof one);
}

void TMqttConnection::TSession::Run() {
  SetThreadName("MQTT");
  // A broker that hangs up while we write must not end the process.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
  auto pause = std::chrono::duration_cast<TClock::duration>(FirstRetryPause);
  while (!Terminated()) {
    const std::string reason = Attempt();
    if (Terminated()) break;
    if (FSessionUp) pause = FirstRetryPause;
    FSessionUp = false;
    Lost(reason);
    Pause(TClock::now() + pause);
    pause = std::min<TClock::duration>(pause * 2, MaxRetryPause);
  }
  Goodbye();
  TMutexLock lock(FLock);
  FEnded = true;
  FEnd.notify_all();
}

std::string TMqttConnection::TSession::Attempt() {
  FAnswer = -1;
  FLibraryError.clear();
  FUnacknowledged.clear();
  int rc = FMosquitto.ConnectAsync(FMosq, FSettings.Host.c_str(), FSettings.Port, KeepAliveSeconds);
  const auto deadline = TClock::now() + MaxConnectTime;
  while (rc == MOSQ_ERR_SUCCESS && !Terminated()) {
    if (!FSessionUp && TClock::now() > deadline)
      return "no answer within " + std::to_string(MaxConnectTime.count()) + " s";
    if (FSessionUp && FUnacknowledged.empty() && !FMosquitto.WantWrite(FMosq)) Flush();
    WaitForTraffic();
    errno = 0;
    rc = FMosquitto.Loop(FMosq, 0, 1);
    if (FAnswer == 0 && !FSessionUp) Greet();
  }
  if (Terminated()) return "";
  if (FAnswer > 0) return FMosquitto.ConnackString(FAnswer);
  if (rc == MOSQ_ERR_ERRNO && errno) return std::strerror(errno);
  // The library says more than its code, for instance why a certificate was refused.
  if (!FLibraryError.empty()) return std::string(FMosquitto.Strerror(rc)) + " " + FLibraryError;
  return FMosquitto.Strerror(rc);
}

void TMqttConnection::TSession::WaitForTraffic() {
  pollfd fds[2] = {{FMosquitto.Socket(FMosq), POLLIN, 0}, {FWake, POLLIN, 0}};
  if (FMosquitto.WantWrite(FMosq)) fds[0].events |= POLLOUT;
  if (poll(fds, 2, PollPeriodMs) > 0 && (fds[1].revents & POLLIN)) {
    uint64_t count;
    (void)!read(FWake, &count, sizeof count);
  }
}

void TMqttConnection::TSession::Pause(TClock::time_point until) {
  while (!Terminated()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TClock::now()).count();
    if (left <= 0) return;
    pollfd wake = {FWake, POLLIN, 0};
    if (poll(&wake, 1, static_cast<int>(left)) > 0) {
      uint64_t count;
      (void)!read(FWake, &count, sizeof count);
    }
  }
}

void TMqttConnection::TSession::Flush() {
  std::vector<std::pair<std::string, TMqttMessage>> batch;
  {
    TMutexLock lock(FLock);
    for (auto& [topic, entry] : FLatest) {
      if (entry.Sent) continue;
      entry.Sent = true;
      batch.emplace_back(topic, entry.Message);
    }
  }
  for (const auto& [topic, message] : batch) Send(topic, message);
}

void TMqttConnection::TSession::Send(const std::string& topic, const TMqttMessage& message) {
  int id = 0;
  const int rc = FMosquitto.Publish(FMosq, &id, topic.c_str(), static_cast<int>(message.Payload.size()),
                                    message.Payload.data(), message.Qos, true);
  // A QoS 0 message may be written, and its callback run, before mosquitto_publish returns.
  if (rc == MOSQ_ERR_SUCCESS && message.Qos > 0)
    FUnacknowledged.insert(id);
  else if (rc != MOSQ_ERR_SUCCESS)
    DebugLog("MQTT: cannot publish to ", topic, ": ", FMosquitto.Strerror(rc));
}

void TMqttConnection::TSession::Greet() {
  FSessionUp = true;
  FAway = false;
  DebugLog("MQTT: connected to the broker ", Endpoint());
  WarnOfPasswordInClear();
  Send(FStatusTopic, {"online"});
  TMutexLock lock(FLock);
  for (auto& [topic, entry] : FLatest) entry.Sent = false;
}

void TMqttConnection::TSession::WarnOfPasswordInClear() {
  if (FSettings.Tls || FSettings.Username.empty() || FSettings.Password.empty() || FClearWarned) return;
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  const auto* address = reinterpret_cast<const sockaddr*>(&peer);
  if (getpeername(FMosquitto.Socket(FMosq), reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
      IsLoopback(address))
    return;
  FClearWarned = true;
  FWarn("MQTT password is sent without encryption");
}

void TMqttConnection::TSession::Lost(const std::string& reason) {
  if (FAway) return;
  FAway = true;
  const std::string text = "MQTT: no connection to the broker " + Endpoint() + ": " + reason;
  DebugLog(text);
  FWarn(text);
}

void TMqttConnection::TSession::Goodbye() {
  if (!FSessionUp) return;
  Send(FStatusTopic, {"offline"});
  FMosquitto.Disconnect(FMosq);
  const auto deadline = TClock::now() + MaxGoodbyeWait;
  while (TClock::now() < deadline && FMosquitto.Loop(FMosq, 100, 1) == MOSQ_ERR_SUCCESS) {
  }
}

std::string TMqttConnection::TSession::Endpoint() const {
  return FSettings.Host + ":" + std::to_string(FSettings.Port);
}

}  // namespace duz
