#include "web/StatusPage.h"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>

#include "base/FloatFormat.h"
#include "base/FormatDateTime.h"
#include "web/StatusChart.h"

namespace duz {
namespace {

constexpr const char* Style = R"(
body { font-family: sans-serif; margin: 16px; background: #f4f4f4; color: #222; }
h1 { font-size: 20px; margin: 0 0 4px; }
.time { color: #666; margin: 0 0 12px; }
.shutdown { background: #c62828; color: #fff; padding: 8px; font-weight: bold; }
.panels { display: flex; flex-wrap: wrap; gap: 16px; }
.panel { background: #fff; border-top: 6px solid #999; padding: 12px; width: 740px; box-sizing: border-box; }
.panel h2 { font-size: 18px; margin: 0; }
.port, .age, .limits { color: #555; margin: 2px 0; }
.temperature { font-size: 56px; font-weight: bold; margin: 4px 0 0; }
.state { font-size: 18px; font-weight: bold; margin: 0 0 6px; text-transform: uppercase; }
.state-normal { border-color: #2e7d32; } .state-normal .temperature, .state-normal .state { color: #2e7d32; }
.state-min { border-color: #1565c0; } .state-min .temperature, .state-min .state { color: #1565c0; }
.state-max { border-color: #ef6c00; } .state-max .temperature, .state-max .state { color: #ef6c00; }
.state-off { border-color: #c62828; } .state-off .temperature, .state-off .state { color: #c62828; }
.state-lost { border-color: #757575; } .state-lost .temperature, .state-lost .state { color: #757575; }
.chart { width: 100%; height: auto; }
.chart .grid { stroke: #e0e0e0; stroke-width: 2; }
.chart .axis { font-size: 24px; fill: #666; }
.chart .empty { font-size: 30px; fill: #999; }
.chart .band { fill: #90caf9; fill-opacity: 0.6; stroke: none; }
.chart .mean { fill: none; stroke: #0d47a1; stroke-width: 3; stroke-linejoin: round; }
.chart circle.mean { fill: #0d47a1; }
.chart .limit { stroke-width: 2; stroke-dasharray: 12 8; }
.chart .limit.min { stroke: #1565c0; } .chart .limit.max { stroke: #ef6c00; } .chart .limit.off { stroke: #c62828; }
)";

std::string Escaped(std::string_view text) {
  std::string result;
  for (const char c : text) {
    switch (c) {
      case '&':
        result += "&amp;";
        break;
      case '<':
        result += "&lt;";
        break;
      case '>':
        result += "&gt;";
        break;
      case '"':
        result += "&quot;";
        break;
      default:
        result += c;
    }
  }
  return result;
}

// Calm to alarming.
int Rank(TConditionState state) {
  switch (state) {
    case stNormal:
      return 1;
    case stMin:
      return 2;
    case stMax:
      return 3;
    case stError:
      return 4;
    case stOff:
      return 5;
    default:
      return 0;
  }
}

// The word and colour of a panel: lost while the thermometer is silent, else the most alarming
// state of its conditions (one still in error has not seen the newest reading yet); empty without
// any condition that has a state.
std::string PanelState(const TKelvoSnapshot& status) {
  if (!status.Connected) return "lost";
  TConditionState worst = stNone;
  for (const TConditionStatus& condition : status.Conditions)
    if (Rank(condition.State) > Rank(worst)) worst = condition.State;
  return worst == stError ? "lost" : ConditionStateName(worst);
}

std::string Limits(const TConditionStatus& condition) {
  if (std::isnan(condition.Min)) return "limits not read yet";
  return fmt::format("min {} · max {} · off {}", FormatFixed(condition.Min, 0, 1),
                     FormatFixed(condition.Max, 0, 1), FormatFixed(condition.Off, 0, 1));
}

std::string Age(const TKelvoSnapshot& status, TDateTime now) {
  if (!status.LastReading) return "no reading yet";
  const auto seconds =
      static_cast<int64_t>(std::max(0.0, std::floor((now - *status.LastReading) * SecondsPerDay)));
  if (seconds < 120) return fmt::format("last reading {} s ago", seconds);
  if (seconds < int64_t{2} * 3600) return fmt::format("last reading {} min ago", seconds / 60);
  if (seconds < int64_t{2} * 86400) return fmt::format("last reading {} h ago", seconds / 3600);
  return fmt::format("last reading {} days ago", seconds / 86400);
}

std::string Panel(const TKelvoSnapshot& status, TDateTime now) {
  const std::string state = PanelState(status);
  std::string limits;
  for (const TConditionStatus& condition : status.Conditions)
    limits += "<p class=\"limits\">" + Limits(condition) + "</p>";
  return fmt::format(
      "<section class=\"panel state-{}\"><h2 class=\"caption\">{}</h2><p class=\"port\">COM{}</p>"
      "<p class=\"temperature\">{}</p><p class=\"state\">{}</p>{}<p class=\"age\">{}</p>{}</section>\n",
      state.empty() ? "none" : state, Escaped(status.Caption), status.ComPort,
      status.Temperature ? FormatFixed(*status.Temperature, 0, 1) + " °C" : "–", state, limits,
      Age(status, now), RenderChart(status.History, status.Conditions, now));
}

}  // namespace

std::string RenderStatusPage(const TPlatformSnapshot& snapshot) {
  std::string panels;
  for (const TKelvoSnapshot& status : snapshot.Thermometers) panels += Panel(status, snapshot.Time);
  return fmt::format(
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"10\">"
      "<title>Kelvo thermometers</title><style>{}</style></head>\n<body><h1>Kelvo thermometers</h1>"
      "<p class=\"time\">{}</p>{}<div class=\"panels\">\n{}</div></body></html>\n",
      Style, FormatDateTime("c", snapshot.Time),
      snapshot.ShutdownPending ? "<p class=\"shutdown\">A shutdown of the computer is armed</p>" : "",
      panels);
}

}  // namespace duz
