#pragma once
// TMetricsServer: the HTTP/1.1 server of the METRICS element. /metrics is the Prometheus text
// format (version 0.0.4), / the status page, /api/status the status as JSON; a client the allow
// list refuses gets 403, any other path 404, any method but GET and HEAD 405.
// It runs on the HTTP library's threads, never on the owner or the tick thread: one listener and
// MaxWorkers workers, and every read and write of a request is bounded by RequestTimeoutMs, so a
// client that never sends or never reads holds one worker for at most that long while the others
// go on serving. It reads the platform only through TakeSnapshot.
// A TPlatformView: created and destroyed by its platform on the owner thread; the destructor waits
// for the requests in progress.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/PlatformView.h"
#include "web/MetricsSettings.h"

struct mg_context;
struct mg_connection;

namespace duz {

class TMetricsServer : public TPlatformView {
 public:
  static constexpr int MaxWorkers = 4;
  static constexpr int RequestTimeoutMs = 5000;

  // Raises Exception with the library's reason when it cannot listen.
  explicit TMetricsServer(const TMetricsSettings& settings);
  ~TMetricsServer() override;
  TMetricsServer(const TMetricsServer&) = delete;
  TMetricsServer& operator=(const TMetricsServer&) = delete;

  // The port listened on (the chosen one when the settings asked for 0).
  uint16_t Port() const;

 private:
  static int HandleRequest(mg_connection* connection) noexcept;
  static int Serve(mg_connection* connection);

  const std::vector<std::string> FAllowedHosts;
  mg_context* FContext = nullptr;
};

// The server that the configuration's METRICS element asks for, or nullptr without one. Raises for
// a bad element and for an address or port it cannot listen on.
std::unique_ptr<TPlatformView> CreateMetricsServer(TKelvoPlatform& platform);

}  // namespace duz
