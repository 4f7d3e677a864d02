#include "core/WatchState.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <sstream>

#include "base/Exception.h"
#include "base/Text.h"

namespace duz {
namespace {

using std::chrono::milliseconds;

constexpr const char* RootName = "duzezevovivo-state";
constexpr int Version = 1;
// The largest date a TDateTime may hold (9999-12-31).
constexpr double MaxDateTime = 2958466.0;
constexpr int64_t MaxMinute = static_cast<int64_t>(MaxDateTime * MinutesPerDay);
// Milliseconds of the years 1 to 9999 around 1970: every time the clocks can give.
constexpr TWallMs MaxWallMs = int64_t{253402300800000};

[[noreturn]] void Invalid(pugi::xml_node node, const char* name, const char* reason) {
  throw Exception(fmt::format("<{}> {}: {}", node.name(), name, reason));
}

const char* Text(pugi::xml_node node, const char* name) {
  const pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) Invalid(node, name, "missing");
  return attribute.value();
}

template <typename T>
T Parsed(pugi::xml_node node, const char* name, T min, T max, int base = 10) {
  if (const std::optional<T> value = ParseNumber<T>(Text(node, name), min, max, base)) return *value;
  Invalid(node, name, "not a number in range");
}

constexpr float MaxFloat = std::numeric_limits<float>::max();

float Float(pugi::xml_node node, const char* name) { return Parsed<float>(node, name, -MaxFloat, MaxFloat); }
std::optional<float> OptionalFloat(pugi::xml_node node, const char* name) {
  return node.attribute(name) ? std::optional(Float(node, name)) : std::nullopt;
}
TWallMs WallMs(pugi::xml_node node, const char* name) {
  return Parsed<TWallMs>(node, name, -MaxWallMs, MaxWallMs);
}
int Retries(pugi::xml_node node) { return Parsed<int>(node, "retries", 0, TRetries::Max); }
bool Boolean(pugi::xml_node node, const char* name) { return Parsed<int>(node, name, 0, 1) == 1; }

TConditionState State(pugi::xml_node node, const char* name) {
  const std::string_view text = Text(node, name);
  for (int state = stNone; state <= stOff; ++state)
    if (text == ConditionStateName(static_cast<TConditionState>(state)))
      return static_cast<TConditionState>(state);
  Invalid(node, name, "no state");
}

// Numbers in the shortest form that reads back as the same value.
template <typename T>
void Set(pugi::xml_node node, const char* name, const T& value) {
  if constexpr (std::is_convertible_v<T, const char*>)
    node.append_attribute(name).set_value(value);
  else if constexpr (std::is_same_v<T, std::string>)
    node.append_attribute(name).set_value(value.c_str());
  else
    node.append_attribute(name).set_value(fmt::format("{}", value).c_str());
}

void WriteThermometer(pugi::xml_node root, const TSavedThermometer& thermometer) {
  pugi::xml_node node = root.append_child("kelvo");
  Set(node, "comport", thermometer.ComPort);
  Set(node, "caption", thermometer.Caption);
  for (const TSavedCondition& condition : thermometer.Conditions) {
    pugi::xml_node child = node.append_child("condition");
    Set(child, "fingerprint", fmt::format("{:016x}", condition.Fingerprint));
    Set(child, "state", ConditionStateName(condition.State));
    Set(child, "element", ConditionStateName(condition.ElementState));
    for (const std::optional<TWallMs>& fired : condition.LastFired) {
      pugi::xml_node item = child.append_child("item");
      if (fired) Set(item, "fired", *fired);
    }
  }
  // A line per minute: thousands of them would be thousands of elements.
  std::string history;
  for (const TMinutePoint& point : thermometer.History)
    history += fmt::format("{} {} {} {}\n", point.Minute, point.Min, point.Mean, point.Max);
  if (!history.empty()) node.append_child("history").text().set(history.c_str());
}

TSavedThermometer ReadThermometer(pugi::xml_node node) {
  TSavedThermometer thermometer;
  thermometer.ComPort = Parsed<int>(node, "comport", 1, 65535);
  thermometer.Caption = Text(node, "caption");
  for (pugi::xml_node child : node.children("condition")) {
    TSavedCondition& condition = thermometer.Conditions.emplace_back();
    condition.Fingerprint =
        Parsed<uint64_t>(child, "fingerprint", 0, std::numeric_limits<uint64_t>::max(), 16);
    condition.State = State(child, "state");
    condition.ElementState = State(child, "element");
    for (pugi::xml_node item : child.children("item"))
      condition.LastFired.push_back(item.attribute("fired") ? std::optional(WallMs(item, "fired"))
                                                            : std::nullopt);
  }
  std::istringstream lines(node.child("history").text().get());
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string minute, min, mean, max, rest;
    words >> minute >> min >> mean >> max >> rest;
    const auto number = [](const std::string& word) { return ParseNumber<float>(word, -MaxFloat, MaxFloat); };
    const TMinutePoint point{ParseNumber<int64_t>(minute, 0, MaxMinute).value_or(-1),
                             number(min).value_or(NAN), number(mean).value_or(NAN),
                             number(max).value_or(NAN)};
    if (point.Minute < 0 || std::isnan(point.Min) || std::isnan(point.Mean) || std::isnan(point.Max) ||
        !rest.empty())
      throw Exception("<history>: not a line of four numbers: " + line);
    thermometer.History.push_back(point);
  }
  return thermometer;
}

void WriteMail(pugi::xml_node root, const TSavedMail& mail) {
  pugi::xml_node node = root.append_child("email");
  Set(node, "caption", mail.Caption);
  Set(node, "from", mail.Message.From);
  Set(node, "subject", mail.Message.Subject);
  Set(node, "priority", mail.Message.Priority);
  Set(node, "retries", mail.Retries);
  for (const TMailAddress& recipient : mail.Message.Recipients) {
    pugi::xml_node to = node.append_child("to");
    Set(to, "name", recipient.Name);
    Set(to, "address", recipient.Address);
  }
  for (const std::string& line : mail.Message.Body) Set(node.append_child("line"), "text", line);
}

TSavedMail ReadMail(pugi::xml_node node) {
  TSavedMail mail;
  mail.Caption = Text(node, "caption");
  mail.Message.From = Text(node, "from");
  mail.Message.Subject = Text(node, "subject");
  mail.Message.Priority = Parsed<int>(node, "priority", 1, 5);
  mail.Retries = Retries(node);
  for (pugi::xml_node to : node.children("to"))
    mail.Message.Recipients.push_back({Text(to, "name"), Text(to, "address")});
  for (pugi::xml_node line : node.children("line")) mail.Message.Body.emplace_back(Text(line, "text"));
  return mail;
}

void WriteWebhook(pugi::xml_node root, const TSavedWebhook& webhook) {
  pugi::xml_node node = root.append_child("webhook");
  Set(node, "url", webhook.Target.Http.Url);
  Set(node, "tlsverify", webhook.Target.Http.TlsVerify ? 1 : 0);
  Set(node, "cafile", webhook.Target.Http.CaFile);
  Set(node, "format", static_cast<int>(webhook.Target.Format));
  Set(node, "token", webhook.Target.Token);
  Set(node, "retries", webhook.Retries);
  const TWebhookAlarm& alarm = webhook.Alarm;
  Set(node, "caption", alarm.Caption);
  Set(node, "state", alarm.State);
  if (alarm.Temperature) Set(node, "temperature", *alarm.Temperature);
  if (alarm.Limit) Set(node, "limit", *alarm.Limit);
  Set(node, "message", alarm.Message);
  Set(node, "time", alarm.Time);
  Set(node, "host", alarm.Host);
}

TSavedWebhook ReadWebhook(pugi::xml_node node) {
  TSavedWebhook webhook;
  webhook.Target.Http.Url = Text(node, "url");
  webhook.Target.Http.TlsVerify = Boolean(node, "tlsverify");
  webhook.Target.Http.CaFile = Text(node, "cafile");
  webhook.Target.Format =
      static_cast<TWebhookFormat>(Parsed<int>(node, "format", 0, static_cast<int>(TWebhookFormat::Text)));
  webhook.Target.Token = Text(node, "token");
  webhook.Retries = Retries(node);
  TWebhookAlarm& alarm = webhook.Alarm;
  alarm.Caption = Text(node, "caption");
  alarm.State = Text(node, "state");
  alarm.Temperature = OptionalFloat(node, "temperature");
  alarm.Limit = OptionalFloat(node, "limit");
  alarm.Message = Text(node, "message");
  alarm.Time = Parsed<double>(node, "time", 0, MaxDateTime);
  alarm.Host = Text(node, "host");
  return webhook;
}

}  // namespace

TWallMs WallMsOf(TMonotonicTime time) {
  const auto wall =
      SystemNow() + std::chrono::duration_cast<std::chrono::system_clock::duration>(time - MonotonicNow());
  return std::chrono::duration_cast<milliseconds>(wall.time_since_epoch()).count();
}

TMonotonicTime MonotonicOf(TWallMs time) {
  const auto wall = std::chrono::system_clock::time_point(milliseconds(time));
  return MonotonicNow() + std::chrono::duration_cast<TMonotonicTime::duration>(wall - SystemNow());
}

// FNV-1a: stable from one build to the next, unlike std::hash.
uint64_t ConditionFingerprint(std::string_view elementXml) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : elementXml) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

const TSavedThermometer* TWatchState::Find(int comPort, const std::string& caption) const {
  const auto found = std::find_if(Thermometers.begin(), Thermometers.end(), [&](const TSavedThermometer& t) {
    return t.ComPort == comPort && t.Caption == caption;
  });
  return found == Thermometers.end() ? nullptr : &*found;
}

std::string WriteWatchState(const TWatchState& state) {
  pugi::xml_document document;
  pugi::xml_node root = document.append_child(RootName);
  Set(root, "version", Version);
  Set(root, "boot", state.BootId);
  for (const TSavedThermometer& thermometer : state.Thermometers) WriteThermometer(root, thermometer);
  for (const TSavedShutdown& shutdown : state.Shutdowns) {
    pugi::xml_node node = root.append_child("shutdown");
    Set(node, "due", shutdown.Due);
    Set(node, "period", shutdown.Period.count());
  }
  for (const TSavedMail& mail : state.Mails) WriteMail(root, mail);
  for (const TSavedWebhook& webhook : state.Webhooks) WriteWebhook(root, webhook);
  std::ostringstream text;
  document.save(text, "  ", pugi::format_default, pugi::encoding_utf8);
  return text.str();
}

TWatchState ReadWatchState(std::string_view text) {
  pugi::xml_document document;
  const pugi::xml_parse_result parsed = document.load_buffer(text.data(), text.size());
  if (!parsed) throw Exception(std::string("not XML: ") + parsed.description());
  const pugi::xml_node root = document.document_element();
  if (std::strcmp(root.name(), RootName) != 0) throw Exception(std::string("no <") + RootName + ">");
  if (Parsed<int>(root, "version", Version, Version) != Version) Invalid(root, "version", "unknown");
  TWatchState state;
  state.BootId = Text(root, "boot");
  for (pugi::xml_node node : root.children("kelvo")) state.Thermometers.push_back(ReadThermometer(node));
  for (pugi::xml_node node : root.children("shutdown"))
    state.Shutdowns.push_back(
        {WallMs(node, "due"), milliseconds(Parsed<int64_t>(node, "period", 1, MaxWallMs))});
  for (pugi::xml_node node : root.children("email")) state.Mails.push_back(ReadMail(node));
  for (pugi::xml_node node : root.children("webhook")) state.Webhooks.push_back(ReadWebhook(node));
  return state;
}

}  // namespace duz
