#include "mqtt/MqttSettings.h"

#include "base/Exception.h"
#include "config/ConfigRules.h"
#include "net/HostAddress.h"

namespace duz {

pugi::xml_node FindMqttElement(const pugi::xml_document& config) {
  return FindRuleChild(config.document_element(), "", "MQTT");
}

// The attributes' types, defaults and limits are those of the configuration's rules, which -check
// applies too.
TMqttSettings ReadMqttSettings(pugi::xml_node element, const std::string& defaultClientId) {
  const auto rule = [](std::string_view name) -> const TAttributeRule& {
    return AttributeRule("MQTT", name);
  };
  try {
    TMqttSettings settings;
    settings.Host = ReadText(element, rule("host"));
    settings.Port = static_cast<int>(ReadNumber(element, rule("port")));
    settings.Username = ReadText(element, rule("username"));
    settings.Password = ReadText(element, rule("password"));
    settings.ClientId = ReadText(element, rule("clientid"));
    if (settings.ClientId.empty()) settings.ClientId = defaultClientId;
    settings.Topic = ReadText(element, rule("topic"));
    settings.Tls = ReadText(element, rule("tls")) == "TLS";
    settings.CaFile = ReadText(element, rule("cafile"));
    settings.CertFile = ReadText(element, rule("certfile"));
    settings.KeyFile = ReadText(element, rule("keyfile"));
    settings.Discovery = ReadBoolean(element, rule("discovery"));
    return settings;
  } catch (const Exception& error) {
    throw Exception(std::string("MQTT element: ") + error.what());
  }
}

std::string DefaultMqttClientId() { return "duzezevovivo-" + LocalHostName(); }

}  // namespace duz
