#include "web/MetricsSettings.h"

#include <arpa/inet.h>

#include "base/Exception.h"
#include "base/UpperCase.h"
#include "xml/XmlHelpers.h"

namespace duz {

std::optional<TMetricsSettings> ReadMetricsSettings(pugi::xml_node root) {
  const pugi::xml_node element = root.find_child([](pugi::xml_node child) {
    return child.type() == pugi::node_element && UpperCase(child.name()) == "METRICS";
  });
  if (!element) return std::nullopt;
  TMetricsSettings settings;
  const std::string port = GetAttrDef(element, "port", TMetricsSettings::DefaultPort).ToString();
  int64_t number = -1;
  try {
    number = TVariant(port).ToInt();
  } catch (const EConvertError&) {
  }
  if (number < 0 || number > 65535)
    throw Exception("METRICS: port \"" + port + "\" is not a whole number from 0 to 65535");
  settings.Port = static_cast<uint16_t>(number);
  settings.Address = GetAttrDef(element, "address", settings.Address).ToString();
  in_addr parsed{};
  if (inet_pton(AF_INET, settings.Address.c_str(), &parsed) != 1)
    throw Exception("METRICS: address \"" + settings.Address + "\" is not an IPv4 address");
  for (pugi::xml_node entry : element.children())
    if (entry.type() == pugi::node_element && UpperCase(entry.name()) == "IP")
      settings.AllowedHosts.push_back(GetAttrDef(entry, "host", "~").ToString());
  return settings;
}

}  // namespace duz
