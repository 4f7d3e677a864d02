#include "config/ConfigValues.h"

#include <fmt/format.h>

#include <cmath>
#include <string>

#include "base/Exception.h"
#include "base/Variant.h"
#include "config/ConfigRules.h"

namespace duz {
namespace {

double Number(pugi::xml_node element, std::string_view elementRule, std::string_view attribute) {
  return ReadNumber(element, AttributeRule(elementRule, attribute));
}

// Every state's attribute is called value: the message names the state too.
double StateNumber(pugi::xml_node condition, const char* state, std::string_view attribute) {
  try {
    return Number(condition.child(state), state, attribute);
  } catch (const EConvertError& error) {
    throw EConvertError(std::string(state) + " " + error.what());
  } catch (const ERangeError& error) {
    throw ERangeError(std::string(state) + " " + error.what());
  }
}

}  // namespace

float ConditionLimit(pugi::xml_node condition, const char* state) {
  return static_cast<float>(StateNumber(condition, state, "value"));
}

int ConfirmCount(pugi::xml_node condition, const char* state) {
  return static_cast<int>(StateNumber(condition, state, "confirm"));
}

float Hysteresis(pugi::xml_node condition) {
  return static_cast<float>(Number(condition, "CONDITION", "hysteresis"));
}

std::chrono::milliseconds ShutdownWait(pugi::xml_node condition) {
  return std::chrono::milliseconds(std::llround(StateNumber(condition, "off", "wait") * 60000));
}

std::chrono::minutes Interval(pugi::xml_node element) {
  return std::chrono::minutes(static_cast<int64_t>(Number(element, "SAVE", "interval")));
}

std::chrono::minutes RepeatInterval(pugi::xml_node element) {
  return std::chrono::minutes(static_cast<int64_t>(Number(element, "email", "repeatinterval")));
}

THttpRequest HttpTarget(pugi::xml_node element, std::string_view rule) {
  THttpRequest request;
  request.Url = ReadText(element, AttributeRule(rule, "url"));
  request.TlsVerify = ReadBoolean(element, AttributeRule(rule, "tlsverify"));
  request.CaFile = ReadText(element, AttributeRule(rule, "cafile"));
  return request;
}

uint16_t ComPortNumber(pugi::xml_node element) {
  const pugi::xml_attribute attribute = FindAttribute(element, AttributeRule("KELVO", "comport"));
  if (!attribute) return 0;
  try {
    if (TVariant(std::string(attribute.value())).ToInt() == 0) return 0;
  } catch (const EConvertError&) {
    // The rule's reading below names what is wrong with it.
  }
  return static_cast<uint16_t>(Number(element, "KELVO", "comport"));
}

TReadingCorrection ReadingCorrection(pugi::xml_node element) {
  const auto limit = [&](std::string_view attribute) -> std::optional<float> {
    if (const std::optional<double> value = ReadOptionalNumber(element, AttributeRule("KELVO", attribute)))
      return static_cast<float>(*value);
    return std::nullopt;
  };
  TReadingCorrection correction{Number(element, "KELVO", "offset"), limit("validmin"), limit("validmax")};
  if (correction.ValidMin && correction.ValidMax && *correction.ValidMin > *correction.ValidMax)
    throw ERangeError(fmt::format("validmin {} is above validmax {}: every reading would be rejected",
                                  *correction.ValidMin, *correction.ValidMax));
  return correction;
}

uint16_t TcpPort(pugi::xml_node element) {
  return static_cast<uint16_t>(Number(element, "DATAPUBLISHER", "port"));
}

int MaxClients(pugi::xml_node element) {
  return static_cast<int>(Number(element, "DATAPUBLISHER", "maxclients"));
}

std::vector<std::string> AllowedHosts(pugi::xml_node server, std::string_view serverRule) {
  std::vector<std::string> hosts;
  for (pugi::xml_node entry : server.children())
    if (ElementRuleName(entry, serverRule) == "IP")
      hosts.push_back(ReadText(entry, AttributeRule("IP", "host")));
  return hosts;
}

}  // namespace duz
