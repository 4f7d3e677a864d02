#include "mqtt/MqttSettings.h"

#include <unistd.h>

#include "base/Exception.h"
#include "base/UpperCase.h"
#include "xml/XmlHelpers.h"

namespace duz {
namespace {

constexpr int MaxPort = 65535;

[[noreturn]] void Fail(const char* attribute, const std::string& problem) {
  throw Exception(std::string("MQTT element: attribute \"") + attribute + "\": " + problem);
}

// The attribute converted by convert; a conversion error names the attribute.
template <typename TConvert>
auto Read(pugi::xml_node element, const char* name, const TVariant& defaultValue, TConvert convert) {
  try {
    return convert(GetAttrDef(element, name, defaultValue));
  } catch (const Exception& error) {
    Fail(name, error.what());
  }
}

}  // namespace

pugi::xml_node FindMqttElement(const pugi::xml_document& config) {
  for (pugi::xml_node node : config.document_element().children())
    if (node.type() == pugi::node_element && UpperCase(node.name()) == "MQTT") return node;
  return {};
}

TMqttSettings ReadMqttSettings(pugi::xml_node element, const std::string& defaultClientId) {
  const auto text = [](const TVariant& value) { return value.ToString(); };
  TMqttSettings settings;
  settings.Host = Read(element, "host", "", text);
  if (settings.Host.empty()) Fail("host", "the broker's host is required");
  const int64_t port =
      Read(element, "port", settings.Port, [](const TVariant& value) { return value.ToInt(); });
  if (port < 1 || port > MaxPort)
    Fail("port", std::to_string(port) + " is not a port number from 1 to 65535");
  settings.Port = static_cast<int>(port);
  settings.Username = Read(element, "username", "", text);
  settings.Password = Read(element, "password", "", text);
  settings.ClientId = Read(element, "clientid", "", text);
  if (settings.ClientId.empty()) settings.ClientId = defaultClientId;
  settings.Topic = Read(element, "topic", settings.Topic, text);
  if (settings.Topic.find_first_of("+#") != std::string::npos)
    Fail("topic", "\"" + settings.Topic + "\" holds a wildcard (+ or #)");
  const std::string tls = Read(element, "tls", "none", text);
  settings.Tls = UpperCase(tls) == "TLS";
  if (!settings.Tls && UpperCase(tls) != "NONE") Fail("tls", "\"" + tls + "\" is neither none nor tls");
  settings.CaFile = Read(element, "cafile", "", text);
  settings.Discovery =
      Read(element, "discovery", false, [](const TVariant& value) { return value.ToBool(); });
  return settings;
}

std::string DefaultMqttClientId() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "duzezevovivo";
  return std::string("duzezevovivo-") + name;
}

}  // namespace duz
