#include "web/StatusJson.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>
#include <optional>

namespace duz {
namespace {

std::string Quoted(std::string_view text) {
  std::string result = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        result += "\\\"";
        break;
      case '\\':
        result += "\\\\";
        break;
      default:
        // Other bytes pass as they are: the captions are UTF-8 already.
        if (static_cast<unsigned char>(c) < 0x20)
          result += fmt::format("\\u{:04x}", c);
        else
          result += c;
    }
  }
  return result + "\"";
}

std::string Number(float value) { return std::isfinite(value) ? fmt::format("{}", value) : "null"; }

std::string Time(TDateTime time) {
  const int offset = UtcOffsetMinutes(time);
  return Quoted(fmt::format("{}{}{:02}:{:02}", IsoDateTime(time), offset < 0 ? '-' : '+',
                            std::abs(offset) / 60, std::abs(offset) % 60));
}

std::string Condition(const TConditionStatus& condition) {
  const char* state = ConditionStateName(condition.State);
  return fmt::format(R"({{"state":{},"min":{},"max":{},"off":{}}})", *state ? Quoted(state) : "null",
                     Number(condition.Min), Number(condition.Max), Number(condition.Off));
}

std::string Thermometer(const TThermometerStatus& status) {
  std::string conditions;
  for (const TConditionStatus& condition : status.Conditions)
    conditions += (conditions.empty() ? "" : ",") + Condition(condition);
  return fmt::format(
      R"({{"caption":{},"comport":{},"connected":{},"temperature":{},"lastReading":{},"lines":{},)"
      R"("unparsedLines":{},"conditions":[{}]}})",
      Quoted(status.Caption), status.ComPort, status.Connected,
      status.Temperature ? Number(*status.Temperature) : "null",
      status.LastReading ? Time(*status.LastReading) : "null", status.Lines, status.UnparsedLines,
      conditions);
}

}  // namespace

std::string RenderStatusJson(const TPlatformSnapshot& snapshot) {
  std::string thermometers;
  for (const TThermometerStatus& status : snapshot.Thermometers)
    thermometers += (thermometers.empty() ? "" : ",") + Thermometer(status);
  return fmt::format(R"({{"time":{},"shutdownPending":{},"thermometers":[{}]}})", Time(snapshot.Time),
                     snapshot.ShutdownPending, thermometers) +
         "\n";
}

}  // namespace duz
