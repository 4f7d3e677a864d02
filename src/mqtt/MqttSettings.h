#pragma once
// The root element MQTT of the configuration: the broker to publish to and the names of the topics.
// Read once, when the publisher is created; the reading is a pure function of the element, so that
// a configuration check can use it too.
#include <pugixml.hpp>
#include <string>

namespace duz {

struct TMqttSettings {
  std::string Host;
  int Port = 1883;
  std::string Username;  // empty: no authentication
  std::string Password;
  std::string ClientId;
  std::string Topic = "duzezevovivo";  // the prefix of every topic; empty: none
  bool Tls = false;                    // verified against the system's store and CaFile
  std::string CaFile;
  std::string CertFile, KeyFile;  // with Tls: the client certificate, for brokers that require one
  bool Discovery = false;         // Home Assistant discovery messages
};

// The first child of the root whose name is MQTT in any case, or an empty node.
pugi::xml_node FindMqttElement(const pugi::xml_document& config);

// Raises Exception "MQTT element: ..." naming the attribute for a missing or empty host, a port that
// is not a whole number from 1 to 65535, a tls other than none or tls, a discovery that is not a
// Boolean, and a topic that holds "+" or "#" (wildcards, which no message may be published to): the
// rules of config/ConfigRules.h.
TMqttSettings ReadMqttSettings(pugi::xml_node element, const std::string& defaultClientId);

// "duzezevovivo-" followed by this computer's host name.
std::string DefaultMqttClientId();

}  // namespace duz
