#include "web/MetricFamilies.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <deque>
#include <iterator>
#include <string>

#include "base/FloatFormat.h"

namespace duz {
namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;
using prometheus::MetricType;
using TLabels = std::vector<ClientMetric::Label>;

constexpr TConditionState ShownStates[] = {stMin, stNormal, stMax, stError, stOff};

// A deque: the families are filled through references while later ones are added.
class TFamilies {
 public:
  MetricFamily& Add(const char* name, const char* help, MetricType type) {
    return FFamilies.emplace_back(MetricFamily{name, help, type, {}});
  }
  std::vector<MetricFamily> Take() {
    return {std::make_move_iterator(FFamilies.begin()), std::make_move_iterator(FFamilies.end())};
  }

 private:
  std::deque<MetricFamily> FFamilies;
};

void Sample(MetricFamily& family, TLabels labels, double value) {
  ClientMetric& metric = family.metric.emplace_back();
  metric.label = std::move(labels);
  (family.type == MetricType::Counter ? metric.counter.value : metric.gauge.value) = value;
}

TLabels With(TLabels labels, const char* name, std::string value) {
  labels.push_back({name, std::move(value)});
  return labels;
}

// Unix time, as Prometheus's time() gives it. In the hour that the end of summer time repeats, a
// reading of its first pass counts as an hour later: a stale-reading alert comes late, never falsely.
double UnixTime(TDateTime local) {
  return std::chrono::duration<double>(FromLocalDateTime(local).time_since_epoch()).count();
}

void Results(MetricFamily& family, const TLabels& labels, const TResultCounts& counts, const char* success) {
  Sample(family, With(labels, "result", success), static_cast<double>(counts.Succeeded));
  Sample(family, With(labels, "result", "failed"), static_cast<double>(counts.Failed));
}

}  // namespace

std::vector<MetricFamily> SnapshotMetricFamilies(const TPlatformSnapshot& snapshot) {
  TFamilies families;
  MetricFamily& temperature = families.Add("duzezevovivo_temperature_celsius",
                                           "The last temperature a thermometer sent", MetricType::Gauge);
  MetricFamily& lastReading =
      families.Add("duzezevovivo_last_reading_timestamp_seconds",
                   "Unix time of the last line that held a temperature", MetricType::Gauge);
  MetricFamily& connected = families.Add("duzezevovivo_thermometer_connected",
                                         "1 while the thermometer sends readings", MetricType::Gauge);
  MetricFamily& state = families.Add("duzezevovivo_condition_state",
                                     "1 for the current state of each condition", MetricType::Gauge);
  MetricFamily& limit = families.Add("duzezevovivo_condition_limit_celsius",
                                     "The limits of each condition, as last read", MetricType::Gauge);
  MetricFamily& lines = families.Add("duzezevovivo_lines_total", "Lines received", MetricType::Counter);
  MetricFamily& unparsed = families.Add("duzezevovivo_unparsed_lines_total",
                                        "Lines received without a temperature", MetricType::Counter);
  MetricFamily& rejected = families.Add("duzezevovivo_readings_rejected_total",
                                        "Readings outside the valid range", MetricType::Counter);
  MetricFamily& emails = families.Add("duzezevovivo_emails_total", "Alarm e-mails", MetricType::Counter);
  MetricFamily& posts = families.Add("duzezevovivo_http_posts_total", "HTTP posts", MetricType::Counter);
  MetricFamily& saves = families.Add("duzezevovivo_saves_total", "Saves to files", MetricType::Counter);
  MetricFamily& clients =
      families.Add("duzezevovivo_tcp_clients", "Clients of the TCP data servers", MetricType::Gauge);
  for (const TKelvoSnapshot& thermometer : snapshot.Thermometers) {
    const TLabels labels{{"caption", thermometer.Caption}, {"comport", std::to_string(thermometer.ComPort)}};
    if (thermometer.Temperature) Sample(temperature, labels, DecimalValue(*thermometer.Temperature));
    if (thermometer.LastReading) Sample(lastReading, labels, UnixTime(*thermometer.LastReading));
    Sample(connected, labels, thermometer.Connected ? 1 : 0);
    for (size_t i = 0; i < thermometer.Conditions.size(); ++i) {
      const TConditionStatus& condition = thermometer.Conditions[i];
      const TLabels conditionLabels = With(labels, "condition", std::to_string(i + 1));
      for (TConditionState shown : ShownStates)
        Sample(state, With(conditionLabels, "state", ConditionStateName(shown)),
               condition.State == shown ? 1 : 0);
      for (const auto& [name, value] :
           {std::pair{"min", condition.Min}, {"max", condition.Max}, {"off", condition.Off}})
        if (!std::isnan(value)) Sample(limit, With(conditionLabels, "limit", name), DecimalValue(value));
    }
    Sample(lines, labels, static_cast<double>(thermometer.Lines));
    Sample(unparsed, labels, static_cast<double>(thermometer.UnparsedLines));
    Sample(rejected, labels, static_cast<double>(thermometer.RejectedReadings));
    Results(emails, labels, thermometer.Emails, "sent");
    Results(posts, labels, thermometer.HttpGets, "succeeded");
    for (const auto& [type, counts] : thermometer.Saves)
      Results(saves, With(labels, "type", type), counts, "succeeded");
    Sample(clients, labels, thermometer.TcpClients);
  }
  MetricFamily& shutdown = families.Add("duzezevovivo_shutdown_pending",
                                        "1 while a shutdown of the computer is armed", MetricType::Gauge);
  Sample(shutdown, {}, snapshot.ShutdownPending ? 1 : 0);
  MetricFamily& shutdownLeft =
      families.Add("duzezevovivo_shutdown_remaining_seconds",
                   "Seconds until the armed shutdown of the computer", MetricType::Gauge);
  if (snapshot.ShutdownSecondsLeft) Sample(shutdownLeft, {}, *snapshot.ShutdownSecondsLeft);
  Sample(families.Add("duzezevovivo_build_info", "The version of the service, as a label", MetricType::Gauge),
         {{"version", DUZ_VERSION}}, 1);
  return families.Take();
}

}  // namespace duz
