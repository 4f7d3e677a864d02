#pragma once
// A thermometer on a pseudo-terminal (the condition fixture: clock standing at 2026-12-07 14:00,
// no platform ticks) and the metrics server of its platform's status board on 127.0.0.1 with a
// free port, stopped before the thermometer goes.
#include <memory>
#include <string>
#include <vector>

#include "core/ConditionFixture.h"
#include "support/HttpClient.h"
#include "web/MetricsServer.h"

namespace duz::test {

class TServerFixture : public TConditionFixture {
 protected:
  TMetricsServer& Serve(std::vector<std::string> allowedHosts = {}, TMetricsSettings settings = {}) {
    settings.Address = "127.0.0.1";
    settings.Port = 0;
    settings.AllowedHosts = std::move(allowedHosts);
    FServer = std::make_unique<TMetricsServer>(settings, *FPlatform->StatusBoard());
    return *FServer;
  }

  THttpResponse Get(const std::string& target, const std::string& method = "GET",
                    const std::string& headers = "") const {
    return HttpRequest(FServer->Port(), target, method, std::chrono::seconds(5), headers);
  }

  std::unique_ptr<TMetricsServer> FServer;
};

}  // namespace duz::test
