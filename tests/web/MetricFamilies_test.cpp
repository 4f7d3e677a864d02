#include "web/MetricFamilies.h"

#include <gtest/gtest.h>
#include <prometheus/text_serializer.h>

#include <cmath>
#include <sstream>

#include "support/Env.h"

namespace duz {
namespace {

std::vector<std::string> Lines(const TPlatformSnapshot& snapshot) {
  std::istringstream text(prometheus::TextSerializer().Serialize(SnapshotMetricFamilies(snapshot)));
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

bool Has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

size_t CountStarting(const std::vector<std::string>& lines, const std::string& start) {
  return std::count_if(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

TPlatformSnapshot Sample() {
  TPlatformSnapshot snapshot;
  TKelvoSnapshot& hall = snapshot.Thermometers.emplace_back();
  hall.Caption = "Hall";
  hall.ComPort = 2;
  hall.Temperature = 21.3f;
  hall.LastReading = EncodeDate(2026, 12, 7) + EncodeTime(14, 0, 0, 500);
  hall.Connected = true;
  hall.Conditions = {{stMax, 10, 30.5f, 60}, {}};
  hall.Lines = 5;
  hall.UnparsedLines = 1;
  hall.Emails = {2, 1};
  hall.HttpGets = {0, 3};
  hall.Saves["XML"] = {4, 0};
  hall.TcpClients = 2;
  TKelvoSnapshot& room = snapshot.Thermometers.emplace_back();
  room.Caption = "Room \"B\"\n\\";
  room.ComPort = 1;
  snapshot.ShutdownPending = true;
  snapshot.ShutdownSecondsLeft = 42.5;
  return snapshot;
}

// Every family with its labels and values; what is not known is absent rather than 0.
TEST(MetricFamiliesTest, ExportsEveryThermometerWithLabelsThatTellThemApart) {
  test::TScopedZone zone("Europe/Prague");  // the reading's local time is UTC + 1 h
  const std::vector<std::string> lines = Lines(Sample());
  const std::string hall = R"(caption="Hall",comport="2")";
  for (const std::string& line : std::vector<std::string>{
           "# TYPE duzezevovivo_temperature_celsius gauge",
           "duzezevovivo_temperature_celsius{" + hall + "} 21.3",
           "duzezevovivo_thermometer_connected{" + hall + "} 1",
           "duzezevovivo_condition_state{" + hall + R"(,condition="1",state="max"} 1)",
           "duzezevovivo_condition_state{" + hall + R"(,condition="1",state="normal"} 0)",
           "duzezevovivo_condition_state{" + hall + R"(,condition="2",state="error"} 0)",
           "duzezevovivo_condition_limit_celsius{" + hall + R"(,condition="1",limit="max"} 30.5)",
           "# TYPE duzezevovivo_lines_total counter",
           "duzezevovivo_lines_total{" + hall + "} 5",
           "duzezevovivo_unparsed_lines_total{" + hall + "} 1",
           "duzezevovivo_emails_total{" + hall + R"(,result="sent"} 2)",
           "duzezevovivo_emails_total{" + hall + R"(,result="failed"} 1)",
           "duzezevovivo_http_posts_total{" + hall + R"(,result="succeeded"} 0)",
           "duzezevovivo_http_posts_total{" + hall + R"(,result="failed"} 3)",
           "duzezevovivo_saves_total{" + hall + R"(,type="XML",result="succeeded"} 4)",
           "duzezevovivo_tcp_clients{" + hall + "} 2",
           R"(duzezevovivo_thermometer_connected{caption="Room \"B\"\n\\",comport="1"} 0)",
           "duzezevovivo_shutdown_pending 1",
           "duzezevovivo_last_reading_timestamp_seconds{" + hall + "} 1796648400.5",
           "duzezevovivo_shutdown_remaining_seconds 42.5",
           std::string("duzezevovivo_build_info{version=\"") + DUZ_VERSION + "\"} 1",
       })
    EXPECT_TRUE(Has(lines, line)) << line;
  EXPECT_EQ(CountStarting(lines, "duzezevovivo_condition_state{"), 10u) << "five states of each condition";
  EXPECT_EQ(CountStarting(lines, "duzezevovivo_condition_limit_celsius{"), 3u)
      << "a condition that has not read its limits has none";
  EXPECT_EQ(CountStarting(lines, "duzezevovivo_temperature_celsius{"), 1u)
      << "a thermometer that never read a number has no temperature";
  EXPECT_EQ(CountStarting(lines, "duzezevovivo_last_reading_timestamp_seconds{"), 1u) << "nor a reading time";
}

}  // namespace
}  // namespace duz
