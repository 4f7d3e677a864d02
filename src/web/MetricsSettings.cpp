#include "web/MetricsSettings.h"

#include "base/Exception.h"
#include "config/ConfigRules.h"
#include "config/ConfigValues.h"

namespace duz {

// The attributes' types, defaults and limits are those of the configuration's rules, which -check
// applies too.
std::optional<TMetricsSettings> ReadMetricsSettings(pugi::xml_node root) {
  const pugi::xml_node element = FindRuleChild(root, "", "METRICS");
  if (!element) return std::nullopt;
  try {
    TMetricsSettings settings;
    settings.Port = static_cast<uint16_t>(ReadNumber(element, AttributeRule("METRICS", "port")));
    settings.Address = ReadText(element, AttributeRule("METRICS", "address"));
    settings.CertFile = ReadText(element, AttributeRule("METRICS", "certfile"));
    settings.KeyFile = ReadText(element, AttributeRule("METRICS", "keyfile"));
    settings.Username = ReadText(element, AttributeRule("METRICS", "username"));
    settings.PasswordHash = ReadText(element, AttributeRule("METRICS", "passwordhash"));
    settings.AllowedHosts = AllowedHosts(element, "METRICS");
    return settings;
  } catch (const Exception& error) {
    throw Exception(std::string("METRICS: ") + error.what());
  }
}

}  // namespace duz
