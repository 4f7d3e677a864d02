#include "web/MetricsServer.h"

#include <civetweb.h>
#include <fmt/format.h>
#include <prometheus/text_serializer.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "base/Exception.h"
#include "base/MutexLock.h"
#include "log/Logger.h"
#include "status/StatusBoard.h"
#include "web/MetricFamilies.h"
#include "web/ProcessMetrics.h"
#include "web/StatusJson.h"
#include "web/StatusPage.h"

namespace duz {
namespace {

constexpr const char* LogPrefix = "Metrics server: ";

// The address entries as the library's own list, which it applies when it accepts a connection,
// before any worker reads from it: "-0.0.0.0/0,+10.0.0.5/32". With a name in the list every client
// comes through, and Refusal decides. The listener is IPv4 only: IPv6 entries match no one.
std::string AccessControlList(const TAllowList& list) {
  if (list.AllowsEveryone() || list.HasNames()) return "";
  std::string acl = "-0.0.0.0/0";
  for (const TIpAddress& address : list.Addresses())
    if (address.Family == AF_INET)
      acl += fmt::format(",+{}.{}.{}.{}/32", address.Bytes[0], address.Bytes[1], address.Bytes[2],
                         address.Bytes[3]);
  return acl;
}

std::string MetricsText(const TStatusBoard& board) {
  std::vector<prometheus::MetricFamily> families = SnapshotMetricFamilies(board.TakeSnapshot());
  for (prometheus::MetricFamily& family : ProcessMetricFamilies()) families.push_back(std::move(family));
  return prometheus::TextSerializer().Serialize(families);
}

// The status code, for the library's access accounting.
int Respond(mg_connection* connection, int status, const char* contentType, const std::string& body,
            bool withBody, const char* extraHeaders = "") {
  mg_printf(connection,
            "HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %zu\r\nCache-Control: no-store\r\n%s"
            "Connection: close\r\n\r\n",
            status, mg_get_response_code_text(connection, status), contentType, body.size(), extraHeaders);
  if (withBody) mg_write(connection, body.data(), body.size());
  return status;
}

// While a server starts on this thread: the library's first complaint, which names the cause
// (its start only says that the ports failed).
thread_local std::string* StartComplaint = nullptr;

int LogMessage(const mg_connection*, const char* message) {
  if (StartComplaint && StartComplaint->empty()) *StartComplaint = message;
  DebugLog(LogPrefix, message);
  return 1;  // nothing to the library's own log
}

void LogFailure(const char* what) noexcept {
  try {
    DebugLog(LogPrefix, "request failed: ", what);
  } catch (...) {
    // Out of memory, most likely: the answer below needs none.
  }
}

}  // namespace

TMetricsServer::TMetricsServer(const TMetricsSettings& settings, const TStatusBoard& board)
    : FBoard(board), FAllowList(settings.AllowedHosts) {
  try {
    FAuth = TBasicAuth::Create(settings.Username, settings.PasswordHash);
    FTls = TServerTls::Create(settings.CertFile, settings.KeyFile);
  } catch (const Exception& error) {
    throw Exception(LogPrefix + error.Message());
  }
  static std::once_flag initialised;
  std::call_once(initialised, [] { mg_init_library(0); });
  const bool names = FAllowList.HasNames();
  if (names) FResolver = std::make_unique<THostNameResolver>(MaxNameChecks, MaxNameChecksPerAddress);
  const std::string endpoint = fmt::format("{}:{}", settings.Address, settings.Port);
  const std::string listening = endpoint + (FTls ? "s" : "");
  const std::string workers = std::to_string(MaxWorkers + (names ? MaxNameChecks : 0));
  const std::string timeout = std::to_string(RequestTimeoutMs), acl = AccessControlList(FAllowList);
  std::vector<const char*> options{"listening_ports", listening.c_str(),    "num_threads",
                                   workers.c_str(),   "request_timeout_ms", timeout.c_str()};
  if (!acl.empty()) options.insert(options.end(), {"access_control_list", acl.c_str()});
  options.push_back(nullptr);
  mg_callbacks callbacks{};
  callbacks.begin_request = HandleRequest;
  callbacks.log_message = LogMessage;
  // Only with TLS: the library loads OpenSSL whenever this is set.
  if (FTls)
    callbacks.init_ssl = [](void* context, void* server) {
      return static_cast<TMetricsServer*>(server)->FTls->Configure(context);
    };
  mg_init_data init{&callbacks, this, options.data()};
  char reason[256] = "";
  mg_error_data error{nullptr, reason, sizeof reason};
  std::string complaint;
  StartComplaint = &complaint;
  FContext = mg_start2(&init, &error);
  StartComplaint = nullptr;
  if (!FContext)
    throw Exception(fmt::format("{}cannot listen on {}: {}", LogPrefix, endpoint,
                                complaint.empty() ? reason : complaint));
  DebugLog(LogPrefix, "listening on ", settings.Address, ":", std::to_string(Port()),
           FTls ? " with TLS" : "");
}

TMetricsServer::~TMetricsServer() { mg_stop(FContext); }

uint16_t TMetricsServer::Port() const {
  mg_server_port port{};
  return mg_get_server_ports(FContext, 1, &port) == 1 ? static_cast<uint16_t>(port.port) : 0;
}

int TMetricsServer::HandleRequest(mg_connection* connection) noexcept {
  // An exception must not unwind into the library's C code, which would end the process.
  try {
    return Serve(connection);
  } catch (const std::exception& error) {
    LogFailure(error.what());
  } catch (...) {
    LogFailure("unknown exception");
  }
  static constexpr char Failure[] =
      "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\nContent-Length: 22\r\n"
      "Cache-Control: no-store\r\nConnection: close\r\n\r\nInternal Server Error\n";
  mg_write(connection, Failure, sizeof Failure - 1);
  return 500;
}

// With a name in the list the library lets every client through: its address, or its name, decides
// here. (The library tells a connection's address only once its request has been read.)
const char* TMetricsServer::Refusal(const char* remoteAddress) const {
  const std::optional<TIpAddress> peer = ParseIpAddress(remoteAddress);
  if (!peer) return TAllowList::NotListed;
  if (FAllowList.AllowsAddress(*peer)) return nullptr;
  struct TAnswer {
    TMutex Lock;
    std::condition_variable Arrived;
    std::optional<std::string> Name GUARDED_BY(Lock);
  };
  const auto answer = std::make_shared<TAnswer>();
  const THostNameResolver::TOutcome outcome = FResolver->Resolve(*peer, [answer](const std::string& name) {
    TMutexLock lock(answer->Lock);
    answer->Name = name;
    answer->Arrived.notify_all();
  });
  std::optional<std::string> name = outcome.Cached;
  if (!name) {
    if (!outcome.Waiter) return TAllowList::TooManyChecks;
    const auto deadline = std::chrono::steady_clock::now() + MaxNameCheck;
    answer->Lock.Lock();
    while (!answer->Name && answer->Lock.WaitUntil(answer->Arrived, deadline) == std::cv_status::no_timeout) {
    }
    if (!answer->Name) {
      answer->Lock.Unlock();
      FResolver->Cancel(outcome.Waiter);
      answer->Lock.Lock();  // the answer may have come meanwhile
    }
    name = answer->Name;
    answer->Lock.Unlock();
    if (!name) return TAllowList::NotConfirmedInTime;
  }
  return FAllowList.AllowsName(*name) ? nullptr : TAllowList::NotConfirmed;
}

int TMetricsServer::Serve(mg_connection* connection) {
  const mg_request_info* request = mg_get_request_info(connection);
  const auto& server = *static_cast<const TMetricsServer*>(request->user_data);
  if (const char* refusal = server.FResolver ? server.Refusal(request->remote_addr) : nullptr) {
    DebugLog(LogPrefix, "client ", request->remote_addr, " refused - ", refusal);
    return Respond(connection, 403, "text/plain", "Forbidden\n", true);
  }
  const std::string_view method = request->request_method;
  const bool withBody = method != "HEAD";
  if (server.FAuth && !server.FAuth->Accepts(mg_get_header(connection, "Authorization"))) {
    DebugLog(LogPrefix, "client ", request->remote_addr, " not authenticated");
    return Respond(connection, 401, "text/plain", "Unauthorized\n", withBody, TBasicAuth::Challenge);
  }
  if (method != "GET" && withBody)
    return Respond(connection, 405, "text/plain", "Method Not Allowed\n", true, "Allow: GET, HEAD\r\n");
  const std::string_view path = request->local_uri ? request->local_uri : "";
  if (path == "/metrics")
    return Respond(connection, 200, "text/plain; version=0.0.4; charset=utf-8", MetricsText(server.FBoard),
                   withBody);
  if (path == "/")
    return Respond(connection, 200, "text/html; charset=utf-8",
                   RenderStatusPage(server.FBoard.TakeSnapshot(true)), withBody);
  if (path == "/api/status")
    return Respond(connection, 200, "application/json", RenderStatusJson(server.FBoard.TakeSnapshot()),
                   withBody);
  return Respond(connection, 404, "text/plain", "Not Found\n", withBody);
}

std::unique_ptr<TPlatformView> CreateMetricsServer(const pugi::xml_document& config, TStatusBoard& board,
                                                   const TEventLogger&) {
  const std::optional<TMetricsSettings> settings = ReadMetricsSettings(config.document_element());
  if (!settings) return nullptr;
  return std::make_unique<TMetricsServer>(*settings, board);
}

}  // namespace duz
