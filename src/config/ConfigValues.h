#pragma once
// The configuration values the watch depends on. Each is read, converted and checked against its
// range by its rule in the configuration table (ConfigRules.h), when the object that uses it is
// created: a bad value is a creation error, never a silent failure at run time, and -check words it
// the same. Text that does not convert raises EConvertError, a value out of range ERangeError; both
// messages name the attribute. Functions of the element and of the regional decimal separator, which
// numbers may be written with (as with a dot).
#include <chrono>
#include <cstdint>
#include <optional>
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "net/HttpRequest.h"

namespace duz {

// The longest interval, repeat interval and off wait, in minutes: a year.
constexpr int64_t MaxMinutes = 525600;
constexpr int MaxClientsLimit = 1000;
// The most readings in a row a state may ask for before the condition enters it.
constexpr int MaxConfirm = 100;

// What a thermometer element says of its readings: a calibration offset added to each, and the
// range outside which a corrected reading cannot be true.
struct TReadingCorrection {
  double Offset = 0;
  std::optional<float> ValidMin, ValidMax;
};

// Attribute `value` of the condition's child state element (min, max or off; defaults -55, 50,
// 100): a temperature, which the readings are compared with in single precision.
float ConditionLimit(pugi::xml_node condition, const char* state);
// Attribute `confirm` of the condition's child state element (min, normal, max or off), default 1:
// the evaluated readings in a row of that state's class before the condition enters it, 1 to
// MaxConfirm.
int ConfirmCount(pugi::xml_node condition, const char* state);
// Attribute `hysteresis` of the CONDITION element, default 0: the degrees a reading must come back
// from a limit to leave the state beyond it; a number from 0.
float Hysteresis(pugi::xml_node condition);
// Attribute `wait` of the condition's off element, default 1: minutes, fractional, from 0 (never)
// to MaxMinutes, rounded to whole milliseconds.
std::chrono::milliseconds ShutdownWait(pugi::xml_node condition);
// Attribute `interval` of a SAVE or HTMLPOST element (one rule), default 1: whole minutes from 0 to
// MaxMinutes.
std::chrono::minutes Interval(pugi::xml_node element);
// Attribute `repeatinterval` of an action item (email or netmessage, one rule), default 0 (no
// repetition): whole minutes from 0 to MaxMinutes.
std::chrono::minutes RepeatInterval(pugi::xml_node element);
// Attributes `url` (required, http or https), `tlsverify` (default true) and `cafile` of a webhook
// or HEARTBEAT element (rule names the element's rule), as a request to that URL.
THttpRequest HttpTarget(pugi::xml_node element, std::string_view rule);
// Attribute `comport` of a thermometer element: 1 to 65535, or 0 when it is missing or 0 (not set,
// which a subservice refuses).
uint16_t ComPortNumber(pugi::xml_node element);
// Attributes `offset` (default 0, -1000 to 1000), `validmin` and `validmax` (default none) of a
// thermometer element; ERangeError when validmin is above validmax.
TReadingCorrection ReadingCorrection(pugi::xml_node element);
// Attribute `port` of a TCP data server, default 10001: 0 (a free port the system picks) to 65535.
uint16_t TcpPort(pugi::xml_node element);
// Attribute `maxclients` of a TCP data server, default 64: 1 to MaxClientsLimit.
int MaxClients(pugi::xml_node element);
// The `host` of each IP child (its name in any case) of a TCP data server or the METRICS element
// (serverRule DATAPUBLISHER or METRICS), "~" where it is missing: the entries of its TAllowList.
std::vector<std::string> AllowedHosts(pugi::xml_node server, std::string_view serverRule);

}  // namespace duz
