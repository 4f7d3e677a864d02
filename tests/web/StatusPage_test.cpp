// The status page as a person sees it: served by the metrics server, opened in headless Chromium
// (photographed to build/artifacts/status-page.png), and read back from the browser's DOM. The
// minutes of the chart are fed through the settable clock.
#include "web/StatusPage.h"

#include <fmt/format.h>

#include <filesystem>

#include "support/Process.h"
#include "web/ServerFixture.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class StatusPageTest : public test::TServerFixture {
 protected:
  // Chromium with its own profile and nothing but the page to load; returns what it printed.
  std::string Chromium(const std::vector<std::string>& extra) {
    std::vector<std::string> argv{"chromium",
                                  "--headless",
                                  "--no-sandbox",
                                  "--disable-gpu",
                                  "--disable-quic",
                                  "--no-first-run",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--user-data-dir=" + FDir.File("chromium"),
                                  "--window-size=1280,900"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back(fmt::format("http://127.0.0.1:{}/", FServer->Port()));
    test::TChildProcess chromium(argv, {{"HOME", FDir.Path().string()}});
    EXPECT_EQ(chromium.Wait(60s), 0) << chromium.Stderr();
    return chromium.Stdout();
  }

  static std::string Between(const std::string& text, const std::string& before, const std::string& after) {
    const size_t begin = text.find(before);
    if (begin == std::string::npos) return "";
    const size_t start = begin + before.size();
    return text.substr(start, text.find(after, start) - start);
  }
};

TEST_F(StatusPageTest, ChromiumShowsTheThermometerAndOneChartPointPerMinute) {
  Make("<CONDITION><min value=\"15\"/><max value=\"30\"/><off value=\"60\"/></CONDITION>");  // 20.0 at 14:00
  constexpr int FedMinutes = 30;
  for (int minute = 1; minute < FedMinutes; ++minute) {
    TestClock::Advance(60);
    Feed(fmt::format("+{:05.1f}C", 20 + minute * 0.3));
    Feed(fmt::format("+{:05.1f}C", 20 + minute * 0.3 + 0.2));
  }
  Feed("+031.0C");
  TestClock::Advance(12);
  Serve();

  const fs::path artifacts = fs::path(test::BinPath("duzezevovivo")).parent_path() / ".." / "artifacts";
  fs::create_directories(artifacts);
  const fs::path screenshot = artifacts / "status-page.png";
  fs::remove(screenshot);
  const std::string dom = Chromium({"--screenshot=" + screenshot.string(), "--dump-dom"});
  EXPECT_GT(fs::exists(screenshot) ? fs::file_size(screenshot) : 0, 10000u);
  EXPECT_EQ(Between(dom, "<h2 class=\"caption\">", "<"), "Room") << dom;
  EXPECT_NE(dom.find("<section class=\"panel state-max\">"), std::string::npos);
  EXPECT_EQ(Between(dom, "<p class=\"temperature\">", "<"), "31.0 °C");
  EXPECT_EQ(Between(dom, "<p class=\"state\">", "<"), "max");
  EXPECT_EQ(Between(dom, "<p class=\"limits\">", "<"), "min 15.0 · max 30.0 · off 60.0");
  EXPECT_EQ(Between(dom, "<p class=\"age\">", "<"), "last reading 12 s ago");
  const std::string line = Between(dom, "<path class=\"mean\" d=\"", "\"");  // a comma per vertex
  EXPECT_EQ(std::count(line.begin(), line.end(), ','), FedMinutes) << line;
}

// The page must work on an isolated network: nothing it shows comes from elsewhere.
TEST_F(StatusPageTest, ThePageRefersToNothingOutsideItselfAndEscapesCaptions) {
  TPlatformSnapshot snapshot;
  snapshot.Thermometers.emplace_back().Caption = "<b>Hall</b> & \"A\"";
  const std::string page = RenderStatusPage(snapshot);
  for (const char* reference : {"src=", "href=", "url(", "@import", "<script"})
    EXPECT_EQ(page.find(reference), std::string::npos) << reference;
  EXPECT_NE(page.find("<meta http-equiv=\"refresh\" content=\"10\">"), std::string::npos);
  EXPECT_NE(page.find("&lt;b&gt;Hall&lt;/b&gt; &amp; &quot;A&quot;"), std::string::npos);
  EXPECT_NE(page.find("<section class=\"panel state-lost\">"), std::string::npos);
}

}  // namespace
}  // namespace duz
