#include "mqtt/MqttMessages.h"

#include <fmt/format.h>

#include <charconv>
#include <cmath>

#include "base/Utf8.h"

namespace duz {
namespace {

constexpr char32_t NotUtf8 = 0xFFFFFFFF;

// Calls visit(sequence, code point) for each well-formed UTF-8 sequence of text, and
// visit(byte, NotUtf8) for each byte that starts none (overlong forms, surrogates and values above
// U+10FFFF are not well-formed).
template <typename TVisit>
void ForEachCodePoint(std::string_view text, TVisit visit) {
  for (size_t at = 0; at < text.size();) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    size_t length = 1;
    char32_t value = byte(at), least = 0;
    if (value >= 0xF0 && value < 0xF8) {
      length = 4, value &= 0x07, least = 0x10000;
    } else if (value >= 0xE0 && value < 0xF0) {
      length = 3, value &= 0x0F, least = 0x800;
    } else if (value >= 0xC0 && value < 0xE0) {
      length = 2, value &= 0x1F, least = 0x80;
    } else if (value >= 0x80) {
      value = NotUtf8;
    }
    for (size_t i = 1; i < length && value != NotUtf8; ++i)
      value = at + i < text.size() && (byte(at + i) & 0xC0) == 0x80 ? value << 6 | (byte(at + i) & 0x3F)
                                                                    : NotUtf8;
    if (value != NotUtf8 && (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)))
      value = NotUtf8;
    if (value == NotUtf8) length = 1;
    visit(text.substr(at, length), value);
    at += length;
  }
}

bool IsControl(char32_t value) { return value < 0x20 || (value >= 0x7F && value <= 0x9F); }

// Home Assistant takes only letters, digits, "_" and "-" in the object id of a discovery topic.
std::string DiscoveryId(std::string_view text) {
  std::string id;
  ForEachCodePoint(text, [&](std::string_view sequence, char32_t value) {
    const bool plain = (value >= 'a' && value <= 'z') || (value >= 'A' && value <= 'Z') ||
                       (value >= '0' && value <= '9') || value == '_' || value == '-';
    id += plain ? sequence : "_";
  });
  return id;
}

std::string ServiceAvailability(const TMqttSettings& settings) {
  return fmt::format(R"({{"topic":{},"payload_available":"online","payload_not_available":"offline"}})",
                     JsonString(MqttTopic(settings, "status")));
}

std::string Device(const TMqttSettings& settings) {
  return fmt::format(R"("device":{{"identifiers":[{}],"name":{}}})", JsonString(settings.ClientId),
                     JsonString(settings.ClientId));
}

// The temperature shows as unknown once expire_after passes without a message (a service that hangs
// without vanishing), and as unavailable while the service is offline or the thermometer lost.
std::string DiscoveryConfig(const TMqttSettings& settings, const std::string& caption, const std::string& id,
                            const std::string& temperatureTopic, const std::string& connectedTopic) {
  return fmt::format(
      R"({{"name":{},"unique_id":{},"state_topic":{},"unit_of_measurement":"°C",)"
      R"("device_class":"temperature","state_class":"measurement","expire_after":{},"availability_mode":"all",)"
      R"("availability":[{},{{"topic":{},"payload_available":"true","payload_not_available":"false"}}],{}}})",
      JsonString(caption), JsonString(id), JsonString(temperatureTopic), DiscoveryExpireAfter.count(),
      ServiceAvailability(settings), JsonString(connectedTopic), Device(settings));
}

// Available while the service is online, so that a lost thermometer shows as "disconnected".
std::string ConnectivityConfig(const TMqttSettings& settings, const std::string& caption,
                               const std::string& id, const std::string& connectedTopic) {
  return fmt::format(
      R"({{"name":{},"unique_id":{},"state_topic":{},"payload_on":"true","payload_off":"false",)"
      R"("device_class":"connectivity","availability":[{}],{}}})",
      JsonString(caption + " connected"), JsonString(id + "_connected"), JsonString(connectedTopic),
      ServiceAvailability(settings), Device(settings));
}

}  // namespace

std::string TopicLevel(std::string_view caption) {
  std::string level;
  ForEachCodePoint(caption, [&](std::string_view sequence, char32_t value) {
    const bool refused = value == NotUtf8 || IsControl(value) || value == '/' || value == '+' || value == '#';
    level += refused ? "_" : sequence;
  });
  return level;
}

std::string MqttTopic(const TMqttSettings& settings, std::string_view path) {
  return settings.Topic.empty() ? std::string(path) : settings.Topic + "/" + std::string(path);
}

std::string FormatMqttTemperature(float value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed);
  return std::string(text, result.ptr);
}

TMqttMessages SnapshotMessages(const TMqttSettings& settings, const TPlatformSnapshot& snapshot) {
  TMqttMessages messages;
  for (const TKelvoSnapshot& thermometer : snapshot.Thermometers) {
    const std::string level = TopicLevel(thermometer.Caption);
    const auto topic = [&](std::string_view leaf) {
      return MqttTopic(settings, level + "/" + std::string(leaf));
    };
    // A number too large for a float is no temperature to show.
    if (thermometer.Temperature && std::isfinite(*thermometer.Temperature))
      messages[topic("temperature")] = {FormatMqttTemperature(*thermometer.Temperature), 0, true};
    for (size_t i = 0; i < thermometer.Conditions.size(); ++i) {
      const TConditionState state = thermometer.Conditions[i].State;
      if (state == stNone) continue;
      messages[topic(i == 0 ? "state" : "state/" + std::to_string(i + 1))] = {ConditionStateName(state)};
    }
    messages[topic("connected")] = {thermometer.Connected ? "true" : "false"};
    if (settings.Discovery) {
      const std::string id = DiscoveryId(settings.ClientId + "_" + thermometer.Caption);
      messages["homeassistant/sensor/" + id + "/config"] = {
          DiscoveryConfig(settings, thermometer.Caption, id, topic("temperature"), topic("connected"))};
      messages["homeassistant/binary_sensor/" + id + "/config"] = {
          ConnectivityConfig(settings, thermometer.Caption, id, topic("connected"))};
    }
  }
  return messages;
}

}  // namespace duz
