#pragma once
// What the publisher says about the platform, as pure functions of a snapshot: the newest message of
// every topic, all of them retained. Per thermometer, under the prefix: <caption>/temperature (QoS 0,
// sent again at least once a minute), <caption>/state for the first condition and
// <caption>/state/<n> for the n-th (QoS 1; nothing while a condition's state is not yet known),
// <caption>/connected (QoS 1); with discovery, Home Assistant configurations of a temperature sensor
// and of a connectivity binary sensor.
#include <chrono>
#include <map>
#include <string>
#include <string_view>

#include "mqtt/MqttSettings.h"
#include "status/StatusBoard.h"

namespace duz {

// How long Home Assistant shows a temperature without a new message: the once-a-minute
// publication, twice, and time for a slow broker.
constexpr std::chrono::seconds DiscoveryExpireAfter{150};

struct TMqttMessage {
  std::string Payload;
  int Qos = 1;
  bool Refresh = false;  // sent again at least once a minute even when unchanged
  bool operator==(const TMqttMessage&) const = default;
};

using TMqttMessages = std::map<std::string, TMqttMessage>;  // by topic

// A caption as one topic level: "/", "+", "#", control characters and bytes that are not UTF-8
// become "_" (a broker refuses topics with wildcards, control characters or broken UTF-8).
std::string TopicLevel(std::string_view caption);
// "<prefix>/<path>", or the path alone under an empty prefix.
std::string MqttTopic(const TMqttSettings& settings, std::string_view path);
// "23.5", "-3.1", "20": the shortest decimal that reads back as the same float, with a dot whatever
// the regional settings.
std::string FormatMqttTemperature(float value);
TMqttMessages SnapshotMessages(const TMqttSettings& settings, const TPlatformSnapshot& snapshot);

}  // namespace duz
