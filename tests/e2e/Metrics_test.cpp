// The metrics endpoint of the real program in -debug mode, scraped every second by a real
// Prometheus server that the test starts with its own configuration and storage; a thermometer on
// a pseudo-terminal sends the readings, and Prometheus's query API must come to show them.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

#include "e2e/DebugProgram.h"
#include "support/EventLogFile.h"
#include "support/HttpClient.h"
#include "support/LoopbackServer.h"
#include "support/TcpClient.h"
#include "support/TestCa.h"

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

  // A scrape job of the target for prometheus.yml, with more of its settings.
  static std::string Job(const std::string& name, int target, const std::string& settings = "") {
    return fmt::format("  - job_name: {}\n{}    static_configs:\n      - targets: ['127.0.0.1:{}']\n", name,
                       settings, target);
  }

  // Prometheus scraping these jobs every second.
  void StartPrometheus(const std::string& jobs) {
    FDir.Write("prometheus.yml",
               "global:\n  scrape_interval: 1s\n  scrape_timeout: 1s\nscrape_configs:\n" + jobs);
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
  StartPrometheus(Job("duzezevovivo", port));
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

// The offset comes before the range check: 101.0 - 1.5 is valid, 999.9 - 1.5 is not.
TEST_F(MetricsTest, OffsetAndValidRangeReachTheSavesAndTheMetrics) {
  ASSERT_TRUE(
      FProgram.Start("<config><METRICS port=\"0\" address=\"127.0.0.1\"/>"
                     "<KELVO comport=\"1\" caption=\"Room\" offset=\"-1.5\" validmax=\"100\">"
                     "<SAVE type=\"TXT\" interval=\"0\" rewrite=\"1\" filename=\"last\" directory=\"" +
                         FDir.File("") + "\"><![CDATA[%VALUE%]]></SAVE></KELVO></config>",
                     {{"DUZEZEVOVIVO_FIRST_TICK", "0"}}));
  const int port = MetricsPort();
  for (const auto& [line, saved] : {std::pair{"+101.0C", " 99.5"}, {"+999.9C", "Err"}}) {
    FPty.Write(std::string("*B1E1") + line + "\r");
    EXPECT_TRUE(test::WaitUntil(
        [&, saved = saved] { return FDir.Read("last.txt") == saved + std::string("\r\n"); }, 10s))
        << line << ": " << FDir.Read("last.txt");
  }
  const std::string metrics = test::HttpRequest(port, "/metrics").Body;
  const std::string room = R"({caption="Room",comport="1"} )";
  for (const std::string& sample :
       {"duzezevovivo_temperature_celsius" + room + "99.5",
        "duzezevovivo_readings_rejected_total" + room + "1", "duzezevovivo_unparsed_lines_total" + room + "0",
        "duzezevovivo_thermometer_connected" + room + "0"})
    EXPECT_NE(metrics.find("\n" + sample + "\n"), std::string::npos) << sample << "\n" << metrics;
  EXPECT_TRUE(
      FProgram.Program->WaitForOutput("[Room] reading 998.40 is above validmax 100.00: rejected", 5s));
}

// The scrape configuration of the README: TLS checked against the site's CA, and the login.
TEST_F(MetricsTest, PrometheusScrapesOverTlsWithItsLoginAndAWrongPasswordGets401) {
  const test::TTestCa ca(FDir.Path().string());
  const test::TCertificateFiles server = ca.Issue("metrics", "IP:127.0.0.1");
  // The password "pa:ss wörd", as htpasswd -B writes its hash.
  StartProgram("<config><METRICS port=\"0\" address=\"127.0.0.1\" certfile=\"" + server.Cert +
               "\" keyfile=\"" + server.Key +
               "\" username=\"prometheus\" "
               "passwordhash=\"$2y$05$abcdefghijklmnopqrstuuHYAqSTZaD2G3ZsfHYCUGgOo5vA33Sre\"/>"
               "<KELVO comport=\"1\" caption=\"Room\"/></config>");
  const int port = MetricsPort();
  ASSERT_NE(port, 0);
  const auto login = [&](const char* password) {
    return fmt::format(
        "    scheme: https\n    tls_config:\n      ca_file: {}\n"
        "    basic_auth:\n      username: prometheus\n      password: '{}'\n",
        ca.CertFile(), password);
  };
  StartPrometheus(Job("duzezevovivo", port, login("pa:ss wörd")) + Job("wrong", port, login("pa:ss")));
  FPty.Write("*B1E1+020.5C\r");
  EXPECT_TRUE(QueryShows(R"(duzezevovivo_temperature_celsius{caption="Room"})", "20.5"));
  EXPECT_TRUE(QueryShows(R"(up{job="duzezevovivo"})", "1"));
  EXPECT_TRUE(QueryShows("count(abs(time() - duzezevovivo_last_reading_timestamp_seconds) < 60)", "1"))
      << "the reading's time as Prometheus's clock has it";
  EXPECT_TRUE(QueryShows(R"(up{job="wrong"})", "0"));
  const test::THttpResponse targets = test::HttpRequest(FPrometheusPort, "/api/v1/targets");
  EXPECT_NE(targets.Body.find("401 Unauthorized"), std::string::npos) << targets.Body;
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
