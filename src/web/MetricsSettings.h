#pragma once
// The METRICS element of the configuration: where the metrics server listens and whom it serves.
// Read once, when the server starts; a pure function of the element.
#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace duz {

struct TMetricsSettings {
  static constexpr uint16_t DefaultPort = 9488;

  std::string Address = "0.0.0.0";  // every local IPv4 address
  uint16_t Port = DefaultPort;      // 0: any free port (the debug log names it)
  // The `host` of each IP child, as written; none means every client is served.
  std::vector<std::string> AllowedHosts;
  // PEM files for TLS; both empty: plain HTTP.
  std::string CertFile, KeyFile;
  // The one user that every request must name (basic authentication); both empty: none.
  std::string Username, PasswordHash;
};

// The first child of root named METRICS in any case; nothing when there is none. Raises Exception
// "METRICS: ..." for a `port` that is not a whole number from 0 to 65535 and for an `address` that
// is not an IPv4 address.
std::optional<TMetricsSettings> ReadMetricsSettings(pugi::xml_node root);

}  // namespace duz
