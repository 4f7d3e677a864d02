#include "net/HttpGet.h"

#include <gtest/gtest.h>

#include <map>

#include "support/Env.h"
#include "support/LoopbackServer.h"

namespace duz {
namespace {

std::string Response(const std::string& status, const std::string& body, const std::string& extra = "") {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra +
         "Connection: close\r\n\r\n" + body;
}

// Answers each request with the response scripted for its path (404 for others) and records the
// request heads.
class THttpServer {
 public:
  explicit THttpServer(std::map<std::string, std::string> responses)
      : FResponses(std::move(responses)), FServer([this](int socket) { Serve(socket); }) {}
  int Port() const { return FServer.Port(); }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
  }
  const std::vector<std::string>& Requests() {
    FServer.Stop();
    return FRequests;
  }

 private:
  void Serve(int socket) {
    std::string buffer;
    const std::optional<std::string> head = test::ReadUntil(socket, buffer, "\r\n\r\n");
    if (!head) return;
    FRequests.push_back(*head);
    const std::string path = head->substr(4, head->find(' ', 4) - 4);
    const auto found = FResponses.find(path);
    test::WriteAll(socket,
                   found != FResponses.end() ? found->second : Response("404 Not Found", "nothing here"));
  }

  std::map<std::string, std::string> FResponses;
  std::vector<std::string> FRequests;
  test::TLoopbackServer FServer;
};

class HttpGetTest : public testing::Test {
  // A proxy of the environment must not take the loopback requests elsewhere.
  test::TScopedEnv FNoProxy{"no_proxy", "*"};
  test::TScopedEnv FNoProxyUpper{"NO_PROXY", "*"};
};

TEST_F(HttpGetTest, RequestCarriesAgentAndNoCacheHeadersAndBlanksTravelEncoded) {
  THttpServer server({{"/post?t=%2023.5", Response("200 OK", "ok")}});
  EXPECT_EQ(HttpGet(server.Url("/post?t= 23.5")), "ok");
  const std::vector<std::string>& requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].starts_with("GET /post?t=%2023.5 HTTP/1.1\r\n")) << requests[0];
  for (const char* header :
       {"User-Agent: ReveZED:/1.0\r\n", "Cache-Control: no-cache\r\n", "Pragma: no-cache\r\n"})
    EXPECT_NE(requests[0].find(header), std::string::npos) << header;
}

TEST_F(HttpGetTest, StatusDecidesBetweenBodyAndStatusText) {
  std::string large;
  for (int i = 0; i < 10000; ++i) large += static_cast<char>('a' + i % 26);
  std::string zeroed = large;
  zeroed[10] = '\0';  // drops the rest of the first 4095-byte piece only
  const struct {
    const char* Label;
    std::string Response;
    std::string Expected;
  } rows[] = {
      {"BodyOfTenThousandBytesWhole", Response("200 OK", large), large},
      {"ZeroByteCutsItsPiece", Response("200 OK", zeroed), large.substr(0, 10) + large.substr(4095)},
      {"EmptyBody", Response("200 OK", ""), ""},
      {"NotFound", Response("404 Not Found", "missing"), "Status:404"},
      {"ServerError", Response("500 Internal Server Error", "boom"), "Status:500"},
      {"FoundWithoutLocationKeepsBody", Response("302 Found", "here"), "here"},
  };
  for (const auto& row : rows) {
    THttpServer server({{"/x", row.Response}});
    EXPECT_EQ(HttpGet(server.Url("/x")), row.Expected) << row.Label;
  }
}

TEST_F(HttpGetTest, BodyIsBoundedToOneMebibyte) {
  THttpServer server({{"/big", Response("200 OK", std::string(3 << 20, 'z'))}});
  EXPECT_EQ(HttpGet(server.Url("/big")), std::string(1 << 20, 'z'));
}

TEST_F(HttpGetTest, RedirectIsFollowedToTheFinalBody) {
  THttpServer server({{"/old", Response("302 Found", "moved", "Location: /new\r\n")},
                      {"/new", Response("200 OK", "fresh")}});
  EXPECT_EQ(HttpGet(server.Url("/old")), "fresh");
  EXPECT_EQ(server.Requests().size(), 2u);
}

TEST_F(HttpGetTest, SchemeIsAddedOnlyWhenMissing) {
  THttpServer server({{"/a", Response("200 OK", "reached")}});
  const std::string hostAndPath = "127.0.0.1:" + std::to_string(server.Port()) + "/a";
  EXPECT_EQ(HttpGet(hostAndPath), "reached");
  EXPECT_EQ(HttpGet("HTTP://" + hostAndPath), "reached");
  // A foreign scheme is no scheme of ours: prefixed, it names no reachable host.
  EXPECT_EQ(HttpGet("file:///etc/passwd"), "Status:");
}

TEST_F(HttpGetTest, UnreachableServerGivesEmptyStatus) {
  EXPECT_EQ(HttpGet("http://127.0.0.1:" + std::to_string(test::UnusedPort()) + "/"), "Status:");
}

}  // namespace
}  // namespace duz
