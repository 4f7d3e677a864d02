#include "core/ConfigValues.h"

#include <cfloat>
#include <cmath>
#include <string>

#include "base/Exception.h"
#include "xml/XmlHelpers.h"

namespace duz {
namespace {

int64_t WholeNumber(pugi::xml_node element, const char* name, int64_t defaultValue, const std::string& what) {
  try {
    return GetAttrDef(element, name, defaultValue).ToInt();
  } catch (const EConvertError& error) {
    throw EConvertError(what + ": " + error.what());
  }
}

double RealNumber(pugi::xml_node element, const char* name, double defaultValue, const std::string& what) {
  try {
    return GetAttrDef(element, name, defaultValue).ToDouble();
  } catch (const EConvertError& error) {
    throw EConvertError(what + ": " + error.what());
  }
}

[[noreturn]] void OutOfRange(pugi::xml_node element, const char* name, const std::string& what,
                             const std::string& range) {
  throw ERangeError(what + " " + element.attribute(name).value() + " is out of range (" + range + ")");
}

std::chrono::minutes Minutes(pugi::xml_node element, const char* name, int64_t defaultValue) {
  const int64_t minutes = WholeNumber(element, name, defaultValue, name);
  if (minutes < 0 || minutes > MaxMinutes)
    OutOfRange(element, name, name, "0 to " + std::to_string(MaxMinutes) + " minutes");
  return std::chrono::minutes(minutes);
}

}  // namespace

float ConditionLimit(pugi::xml_node condition, const char* state, double defaultValue) {
  const pugi::xml_node element = condition.child(state);
  const std::string what = std::string(state) + " value";
  const double limit = RealNumber(element, "value", defaultValue, what);
  if (!(std::fabs(limit) <= FLT_MAX)) OutOfRange(element, "value", what, "-3.4E38 to 3.4E38");
  return static_cast<float>(limit);
}

std::chrono::milliseconds ShutdownWait(pugi::xml_node condition) {
  const pugi::xml_node off = condition.child("off");
  const double minutes = RealNumber(off, "wait", 1, "off wait");
  if (!(minutes >= 0 && minutes <= MaxMinutes))
    OutOfRange(off, "wait", "off wait", "0 to " + std::to_string(MaxMinutes) + " minutes");
  return std::chrono::milliseconds(std::llround(minutes * 60000));
}

std::chrono::minutes Interval(pugi::xml_node element) { return Minutes(element, "interval", 1); }

std::chrono::minutes RepeatInterval(pugi::xml_node element) { return Minutes(element, "repeatinterval", 0); }

uint16_t ComPortNumber(pugi::xml_node element) {
  const int64_t number = WholeNumber(element, "comport", 0, "comport");
  if (number == 0) throw Exception("Number of ComPort is not set!");
  if (number < 1 || number > 65535) OutOfRange(element, "comport", "comport", "1 to 65535");
  return static_cast<uint16_t>(number);
}

uint16_t TcpPort(pugi::xml_node element) {
  const int64_t port = WholeNumber(element, "port", 10001, "port");
  if (port < 0 || port > 65535) OutOfRange(element, "port", "port", "0 to 65535");
  return static_cast<uint16_t>(port);
}

int MaxClients(pugi::xml_node element) {
  const int64_t count = WholeNumber(element, "maxclients", 64, "maxclients");
  if (count < 1 || count > MaxClientsLimit)
    OutOfRange(element, "maxclients", "maxclients", "1 to " + std::to_string(MaxClientsLimit));
  return static_cast<int>(count);
}

}  // namespace duz
