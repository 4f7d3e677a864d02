// The metrics endpoint of the real program in -debug mode, scraped every second by a real
// Prometheus server that the test starts with its own configuration and storage; a thermometer on
// a pseudo-terminal sends the readings, and Prometheus's query API must come to show them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "e2e/DebugProgram.h"
#include "support/EventLogFile.h"
#include "support/HttpClient.h"
#include "support/LoopbackServer.h"
#include "support/TcpClient.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

class MetricsTest : public ::testing::Test {
 protected:
  // The program on the given configuration with one thermometer, Room on COM1, once it has been
  // created.
  void StartProgram(const std::string& config) { ASSERT_TRUE(FProgram.Start(config)); }

  // The port the metrics server listens on, as the debug log names it; 0 when it does not.
  int MetricsPort() { return LoggedPort("Metrics server: listening on 127.0.0.1:"); }

  // The number the debug log writes after listening; 0 when it does not.
  int LoggedPort(const std::string& listening) {
    std::string out;
    size_t at = std::string::npos;
    EXPECT_TRUE(test::WaitUntil(
        [&] { return (at = (out = FProgram.Program->Stdout()).find(listening)) != std::string::npos; }, 10s))
        << out << FProgram.Program->Stderr();
    return at == std::string::npos ? 0 : std::atoi(out.c_str() + at + listening.size());
  }

  void StartPrometheus(int target) {
    FDir.Write("prometheus.yml",
               "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\n"
               "scrape_configs:\n  - job_name: duzezevovivo\n    static_configs:\n"
               "      - targets: ['127.0.0.1:" +
                   std::to_string(target) + "']\n");
    FPrometheusPort = test::UnusedPort();
    FPrometheus = std::make_unique<test::TChildProcess>(std::vector<std::string>{
        "prometheus", "--config.file=" + FDir.File("prometheus.yml"),
        "--storage.tsdb.path=" + FDir.File("tsdb"),
        "--web.listen-address=127.0.0.1:" + std::to_string(FPrometheusPort), "--log.level=warn"});
    ASSERT_TRUE(
        test::WaitUntil([&] { return test::HttpRequest(FPrometheusPort, "/-/ready").Status == 200; }, 20s))
        << FPrometheus->Stderr();
  }

  // The value of the first series the query gives, as Prometheus writes it; nothing when none.
  std::optional<std::string> Query(const std::string& expression) {
    const test::THttpResponse response =
        test::HttpRequest(FPrometheusPort, "/api/v1/query?query=" + test::UrlEncoded(expression));
    // {"status":"success","data":{"resultType":"vector","result":[{"metric":{...},"value":[<time>,"<value>"]}]}}
    const size_t value = response.Body.find("\"value\":[");
    const size_t open = value == std::string::npos ? value : response.Body.find(",\"", value);
    if (open == std::string::npos) return std::nullopt;
    return response.Body.substr(open + 2, response.Body.find('"', open + 2) - open - 2);
  }

  bool QueryShows(const std::string& expression, const std::string& expected) {
    return test::WaitUntil([&] { return Query(expression) == expected; }, 20s);
  }

  test::TDebugProgram FProgram;
  test::TTempDir& FDir = FProgram.Dir;
  test::TPty& FPty = FProgram.Pty;
  std::unique_ptr<test::TChildProcess> FPrometheus;
  int FPrometheusPort = 0;
};

TEST_F(MetricsTest, PrometheusSeesTheTemperatureAndAStateChange) {
  StartProgram(
      "<config><Metrics port=\"0\" address=\"127.0.0.1\"><IP host=\"127.0.0.1\"/></Metrics>"
      "<KELVO comport=\"1\" caption=\"Room\"><CONDITION><max value=\"30\"/></CONDITION></KELVO></config>");
  const int port = MetricsPort();
  ASSERT_NE(port, 0);
  StartPrometheus(port);
  FPty.Write("*B1E1+020.0C\r");  // the first line is never evaluated
  FPty.Write("*B1E1+024.5C\r");
  EXPECT_TRUE(QueryShows(R"(duzezevovivo_temperature_celsius{caption="Room"})", "24.5"))
      << Query(R"(up{job="duzezevovivo"})").value_or("no target");
  EXPECT_TRUE(QueryShows(R"(duzezevovivo_condition_state{caption="Room",state="normal"})", "1"));

  FPty.Write("*B1E1+031.5C\r");
  EXPECT_TRUE(QueryShows(R"(duzezevovivo_condition_state{caption="Room",state="max"})", "1"));
  EXPECT_EQ(Query(R"(duzezevovivo_condition_state{caption="Room",state="normal"})"), "0");
  EXPECT_EQ(Query(R"(duzezevovivo_temperature_celsius{caption="Room"})"), "31.5");
  EXPECT_EQ(Query(R"(duzezevovivo_lines_total{caption="Room"})"), "3");
  EXPECT_TRUE(Query("process_resident_memory_bytes{job=\"duzezevovivo\"}")) << "the process metrics";
}

// Line noise or a failing probe can send any number the parser takes: the status page must come,
// and the watch go on forwarding the lines.
TEST_F(MetricsTest, AHugeReadingNeitherBreaksTheStatusPageNorStopsTheWatch) {
  StartProgram(
      "<config><METRICS port=\"0\" address=\"127.0.0.1\"/><KELVO comport=\"1\" caption=\"Room\">"
      "<DATAPUBLISHER type=\"TCPSERVER\" port=\"0\"/></KELVO></config>");
  const int port = MetricsPort();
  test::TTcpClient client(static_cast<uint16_t>(LoggedPort("[Room] TcpServer created - port:")));
  ASSERT_TRUE(FProgram.Program->WaitForOutput("[Room] > Client socket 127.0.0.1 accept", 5s));
  FPty.Write("*B1E1+020.0C\r*B1E1+1E12C\r*B1E1+021.0C\r");
  ASSERT_TRUE(FProgram.Program->WaitForOutput("[Room] parse temperature: 21.00", 5s));
  const test::THttpResponse page = test::HttpRequest(port, "/");
  EXPECT_EQ(page.Status, 200);
  EXPECT_LT(page.Body.size(), 100000u);
  FPty.Write("*B1E1+022.0C\r");
  EXPECT_TRUE(test::WaitUntil(
      [&] {
        client.Poll();
        return client.Data == "+020.0C\r+1E12C\r+021.0C\r+022.0C\r";
      },
      5s))
      << client.Data;
}

TEST_F(MetricsTest, APortInUseIsReportedAndTheWatchGoesOn) {
  test::TLoopbackServer other([](int) {});
  StartProgram("<config><METRICS port=\"" + std::to_string(other.Port()) +
               "\" address=\"127.0.0.1\"/><KELVO comport=\"1\" caption=\"Room\"/></config>");
  std::vector<std::string> events;
  ASSERT_TRUE(test::WaitUntil(
      [&] {
        return !(events = test::EventTexts(test::ReadEventLog(FDir.File("events.log")), "Deredoru")).empty();
      },
      5s));
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(
      events[0].rfind("Metrics server: cannot listen on 127.0.0.1:" + std::to_string(other.Port()) + ": ", 0),
      0u)
      << events[0];
  EXPECT_NE(events[0].find("Address already in use"), std::string::npos) << "the cause follows";
  EXPECT_TRUE(FProgram.Program->WaitForOutput("! " + events[0], 5s)) << "and the debug log shows it";
  FPty.Write("*B1E1+020.0C\r");
  EXPECT_TRUE(FProgram.Program->WaitForOutput("[Room] parse temperature: 20.00", 5s))
      << FProgram.Program->Stdout();
}

}  // namespace
}  // namespace duz
