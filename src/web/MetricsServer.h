#pragma once
// TMetricsServer: the HTTP/1.1 server of the METRICS element. /metrics is the Prometheus text
// format (version 0.0.4), / the status page, /api/status the status as JSON; any other path 404,
// any method but GET and HEAD 405. With a user set, every path asks for it (basic
// authentication, 401 without it or with a wrong one), after the allow list; with a certificate,
// the port speaks TLS only.
// The IP children form its allow list (TAllowList, as for the TCP data servers). Address entries
// are applied by the HTTP library when it accepts a connection: a client they do not list is closed
// before its request is read and holds no worker. With a name in the list, every client reaches a
// worker (the library tells the address only with the request), which decides: the client's
// verified name comes from the cache or from a look-up awaited at most MaxNameCheck; at most
// MaxNameChecks clients wait so at once, on workers of their own beyond MaxWorkers, so that they
// never take the workers of served clients. A client the list refuses there gets 403.
// It runs on the HTTP library's threads, never on the owner or the tick thread: one listener and
// the workers, and every read and write of a request is bounded by RequestTimeoutMs, so a
// client that never sends or never reads holds one worker for at most that long while the others
// go on serving. It reads the platform only through its status board's TakeSnapshot.
// A TPlatformView: created and destroyed by its platform on the owner thread; the destructor waits
// for the requests in progress.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

#include "net/AllowList.h"
#include "net/BasicAuth.h"
#include "net/HostNameResolver.h"
#include "status/PlatformView.h"
#include "web/MetricsSettings.h"
#include "web/ServerTls.h"

struct mg_context;
struct mg_connection;

namespace duz {

class TStatusBoard;

class TMetricsServer : public TPlatformView {
 public:
  static constexpr int MaxWorkers = 4;
  static constexpr int MaxNameChecks = 2;
  static constexpr int MaxNameChecksPerAddress = 1;
  static constexpr int RequestTimeoutMs = 5000;
  static constexpr std::chrono::seconds MaxNameCheck{5};

  // Raises Exception with the library's reason when it cannot listen, and for a login or TLS files
  // that cannot be used (TBasicAuth::Create, TServerTls::Create). The board outlives the server.
  TMetricsServer(const TMetricsSettings& settings, const TStatusBoard& board);
  ~TMetricsServer() override;
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  // The port listened on (the chosen one when the settings asked for 0).
  uint16_t Port() const;

 private:
  static int HandleRequest(mg_connection* connection) noexcept;
  static int Serve(mg_connection* connection);
  // Why the client at that address is refused, or nullptr; waits for its name when it must.
  const char* Refusal(const char* remoteAddress) const;

  const TStatusBoard& FBoard;
  const TAllowList FAllowList;
  std::unique_ptr<THostNameResolver> FResolver;  // with names in the list only
  std::optional<TBasicAuth> FAuth;
  std::optional<TServerTls> FTls;
  mg_context* FContext = nullptr;
};

// The server that the configuration's METRICS element asks for, or nullptr without one. Raises for
// a bad element and for an address or port it cannot listen on.
std::unique_ptr<TPlatformView> CreateMetricsServer(const pugi::xml_document& config, TStatusBoard& board,
                                                   const TEventLogger& events);

}  // namespace duz
