#include "web/StatusJson.h"

#include <fmt/format.h>

#include <cmath>
#include <cstdlib>
#include <optional>

#include "base/Utf8.h"

namespace duz {
namespace {

std::string Number(float value) { return std::isfinite(value) ? fmt::format("{}", value) : "null"; }

std::string Time(TDateTime time) {
  const int offset = UtcOffsetMinutes(time);
  return JsonString(fmt::format("{}{}{:02}:{:02}", IsoDateTime(time), offset < 0 ? '-' : '+',
                                std::abs(offset) / 60, std::abs(offset) % 60));
}

std::string Condition(const TConditionStatus& condition) {
  const char* state = ConditionStateName(condition.State);
  return fmt::format(R"({{"state":{},"min":{},"max":{},"off":{}}})", *state ? JsonString(state) : "null",
                     Number(condition.Min), Number(condition.Max), Number(condition.Off));
}

std::string Thermometer(const TKelvoSnapshot& status) {
  std::string conditions;
  for (const TConditionStatus& condition : status.Conditions)
    conditions += (conditions.empty() ? "" : ",") + Condition(condition);
  return fmt::format(
      R"({{"caption":{},"comport":{},"connected":{},"temperature":{},"lastReading":{},"lines":{},)"
      R"("unparsedLines":{},"conditions":[{}]}})",
      JsonString(status.Caption), status.ComPort, status.Connected,
      status.Temperature ? Number(*status.Temperature) : "null",
      status.LastReading ? Time(*status.LastReading) : "null", status.Lines, status.UnparsedLines,
      conditions);
}

}  // namespace

std::string RenderStatusJson(const TPlatformSnapshot& snapshot) {
  std::string thermometers;
  for (const TKelvoSnapshot& status : snapshot.Thermometers)
    thermometers += (thermometers.empty() ? "" : ",") + Thermometer(status);
  return fmt::format(R"({{"time":{},"shutdownPending":{},"thermometers":[{}]}})", Time(snapshot.Time),
                     snapshot.ShutdownPending, thermometers) +
         "\n";
}

}  // namespace duz
