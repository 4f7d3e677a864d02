#include "core/IntervalPoster.h"

#include <gtest/gtest.h>

#include "core/IntervalFixture.h"
#include "support/LoopbackServer.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// Answers every request with 200 and the body "ok", and records the request heads.
class TRecordingHttpServer {
 public:
  TRecordingHttpServer()
      : FServer([this](int socket) {
          std::string buffer;
          if (std::optional<std::string> head = test::ReadUntil(socket, buffer, "\r\n\r\n"))
            FRequests.push_back(*head);
          test::WriteAll(socket, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok");
        }) {}
  std::string HostAndPort() const { return "127.0.0.1:" + std::to_string(FServer.Port()); }
  const std::vector<std::string>& Requests() {
    FServer.Stop();
    return FRequests;
  }

 private:
  std::vector<std::string> FRequests;  // read after Stop()
  test::TLoopbackServer FServer;
};

class IntervalPosterTest : public test::TIntervalFixture {
 protected:
  // A thermometer with one HTMLPOST element whose content is given; the first run is made and its
  // GET has been done.
  void Post(const std::string& content) {
    TKelvo* kelvo =
        Make("<Kelvo comport=\"1\" caption=\"Hall\"><HTMLPOST>" + content + "</HTMLPOST></Kelvo>");
    Receive(*kelvo, 23.5f);
    ClockAt(15.5);
    kelvo->Tick();
    EXPECT_TRUE(test::WaitUntil([&] { return FPlatform->HttpOutbox().Pending() == 0; }, 10s));
  }

  // A proxy of the environment must not take the loopback requests elsewhere.
  test::TScopedEnv FNoProxy{"no_proxy", "*"};
  test::TScopedEnv FNoProxyUpper{"NO_PROXY", "*"};
  TRecordingHttpServer FServer;
};

TEST_F(IntervalPosterTest, TemplateWithoutSchemeIsSentOverHttpWithTheValueAsFormatted) {
  test::TLogCapture log;
  Post("<![CDATA[" + FServer.HostAndPort() + "/post?t=%VALUE%&d=%DATETIME(hhnn)%]]>");
  const std::vector<std::string>& requests = FServer.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].starts_with("GET /post?t=%2023.5&d=1405 HTTP/1.1\r\n")) << requests[0];
  EXPECT_EQ(log.Lines("HTTP GET"),
            (std::vector<std::string>{
                "[Hall] HTTP GET - url: " + FServer.HostAndPort() + "/post?t={$20}23.5&d=1405",
                "[Hall] HTTP GET - rcv: ok"}));
}

TEST_F(IntervalPosterTest, ElementWithoutTemplateSendsAndLogsNothing) {
  test::TLogCapture log;
  Post("http://" + FServer.HostAndPort() + "/not-cdata");
  EXPECT_TRUE(FServer.Requests().empty());
  EXPECT_TRUE(log.Lines("HTTP GET").empty());
}

}  // namespace
}  // namespace duz
