// The watch of the real binary is never held by the world outside: with an SMTP server and an HTTP
// server that take connections and never answer, the lines of two thermometers keep reaching the
// TCP clients, the TXT savers keep writing and the shutdown comes on time; a stop signal ends a
// WAIT pause at once.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "e2e/DebugProgram.h"
#include "support/LoopbackServer.h"
#include "support/SilentServer.h"

namespace duz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

size_t LineCount(const std::string& path) {
  const std::string text = test::ReadFile(path);
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The longest silence between two received lines, and when the last one came.
struct TReception {
  TClock::duration LongestGap{0};
  TClock::time_point First, Last;
};

TReception Reception(const std::vector<TClock::time_point>& times) {
  TReception result;
  if (times.empty()) return result;
  result.First = times.front();
  result.Last = times.back();
  for (size_t i = 1; i < times.size(); ++i)
    result.LongestGap = std::max(result.LongestGap, times[i] - times[i - 1]);
  return result;
}

class WatchTest : public ::testing::Test {
 protected:
  WatchTest() {
    FDir.Write("shutdown", "#!/bin/sh\necho \"$@\" >> '" + FDir.File("shutdown.log") + "'\n");
    chmod(FDir.File("shutdown").c_str(), 0755);
  }

  void Start(const std::string& config,
             std::map<std::string, std::string> display = {
                 {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}) {
    display.insert({{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", FDir.File("shutdown")},
                    {"DUZEZEVOVIVO_FIRST_TICK", "2"},
                    {"no_proxy", "*"},
                    {"NO_PROXY", "*"}});
    FProgram.Launch(config, display);
  }

  // Whether a log file of the program holds the text.
  bool Logged(const std::string& text) const {
    for (const auto& entry : fs::directory_iterator(FDir.File("work")))
      if (entry.is_regular_file() && test::ReadFile(entry.path()).find(text) != std::string::npos)
        return true;
    return false;
  }

  test::TDebugProgram FProgram;
  test::TTempDir& FDir = FProgram.Dir;
};

// One run covers the whole story (the first tick comes 2 s after the start): an e-mail stuck on the
// silent SMTP server from the first second, a GET stuck on the silent HTTP server from the first
// tick, then a second e-mail and the shutdown after the off wait, then the process end.
TEST_F(WatchTest, SilentServersHoldNeitherTheLinesNorTheTicksNorTheShutdown) {
  test::TSilentServer smtp, http;
  const int portA = test::UnusedPort(), portB = test::UnusedPort();
  const std::string dir = FDir.File("work") + "/";
  Start("<config><SMTP address=\"127.0.0.1\" port=\"" + std::to_string(smtp.Port()) +
        "\" from=\"alarm@example.com\"/><SHUTDOWN type=\"DEFAULT\" value=\"9\"/>"
        "<KELVO comport=\"1\" caption=\"A\">"
        "<CONDITION><max value=\"50\">hot</max><off value=\"100\" wait=\"0.05\">off</off>"
        "<email address=\"ops@example.com\"/></CONDITION>"
        "<SAVE type=\"TXT\" interval=\"0\" filename=\"a\" directory=\"" +
        dir +
        "\"/>"
        "<DATAPUBLISHER type=\"TCPSERVER\" port=\"" +
        std::to_string(portA) +
        "\"/></KELVO>"
        "<KELVO comport=\"2\" caption=\"B\">"
        "<SAVE type=\"TXT\" interval=\"0\" filename=\"b\" directory=\"" +
        dir +
        "\"/>"
        "<HTMLPOST interval=\"0\"><![CDATA[127.0.0.1:" +
        std::to_string(http.Port()) +
        "/t?v=%VALUE%]]></HTMLPOST>"
        "<DATAPUBLISHER type=\"TCPSERVER\" port=\"" +
        std::to_string(portB) + "\"/></KELVO></config>");
  const TClock::time_point started = TClock::now();
  ASSERT_TRUE(FProgram.WaitCreated("B"));
  int clients[2] = {test::ConnectLoopback(portA), test::ConnectLoopback(portB)};
  ASSERT_GE(clients[0], 0);
  ASSERT_GE(clients[1], 0);

  // The thermometers send five lines a second; A's reading is what the test sets.
  std::atomic<double> readingA{20.0};
  std::atomic<bool> stop{false};
  std::thread thermometers([&] {
    while (!stop) {
      char line[32];
      std::snprintf(line, sizeof line, "*B1E1%+06.1fC\r", readingA.load());
      FProgram.Pty.Write(line);
      FProgram.Pty2.Write("*B1E1+021.0C\r");
      std::this_thread::sleep_for(200ms);
    }
  });
  std::vector<TClock::time_point> received[2];
  std::thread reader([&] {
    pollfd entries[2] = {{clients[0], POLLIN, 0}, {clients[1], POLLIN, 0}};
    while (!stop) {
      if (poll(entries, 2, 50) <= 0) continue;
      for (int c = 0; c < 2; ++c) {
        if (!(entries[c].revents & POLLIN)) continue;
        char buffer[4096];
        const ssize_t size = recv(clients[c], buffer, sizeof buffer, MSG_DONTWAIT);
        if (size <= 0) {
          entries[c].fd = -1;  // closed by the shutdown
          continue;
        }
        for (ssize_t i = 0; i < size; ++i)
          if (buffer[i] == '\r') received[c].push_back(TClock::now());
      }
    }
  });

  std::this_thread::sleep_for(1s);
  readingA = 60.0;  // above max: the first e-mail, stuck on the silent server for a minute
  const bool ticking =
      test::WaitUntil([&] { return LineCount(dir + "a.txt") >= 4 && LineCount(dir + "b.txt") >= 4; },
                      std::chrono::duration_cast<std::chrono::milliseconds>(started + 15s - TClock::now()));
  readingA = 101.0;  // above off: a second e-mail behind the first, and the shutdown after 3 s
  const TClock::time_point off = TClock::now();
  const bool shutDown = test::WaitUntil([&] { return !FDir.Read("shutdown.log").empty(); }, 8s);
  const TClock::time_point shutdownAt = TClock::now();
  std::this_thread::sleep_for(300ms);  // the servers' closing reaches the clients
  stop = true;
  thermometers.join();
  reader.join();
  for (int fd : clients) close(fd);

  EXPECT_TRUE(ticking) << "TXT lines of both thermometers came every tick, past the GETs that hang";
  ASSERT_TRUE(shutDown) << FProgram.Program->Stdout();
  EXPECT_EQ(FDir.Read("shutdown.log"), "9\n");
  EXPECT_GE(shutdownAt - off, 2800ms);
  EXPECT_LE(shutdownAt - off, 5s) << "due 3 s after the off reading, at most 2 s late";
  for (int c = 0; c < 2; ++c) {
    const TReception reception = Reception(received[c]);
    EXPECT_LE(reception.LongestGap, 2s) << "client " << c;
    EXPECT_LE(reception.First - started, 15s) << "client " << c;
    EXPECT_GE(reception.Last, off + 2s)
        << "client " << c << ": lines came until the shutdown freed the server";
  }

  const TClock::time_point terminated = TClock::now();
  FProgram.Program->Signal(SIGTERM);
  EXPECT_EQ(FProgram.Program->Wait(10s), 0) << FProgram.Program->Stderr();
  EXPECT_LE(TClock::now() - terminated, 4s) << "the stuck workers are abandoned after 2 s";
}

// The debug runs, in the terminal and in the window: a stop signal during a long WAIT ends the run
// at once; the configuration's remaining elements are still created first.
TEST_F(WatchTest, StopSignalEndsAWaitPauseInBothDebugRuns) {
  const struct {
    const char* Label;
    std::map<std::string, std::string> Display;
  } rows[] = {
      {"terminal", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}}},
      {"window", {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", "offscreen"}}},
  };
  for (const auto& row : rows) {
    for (const auto& entry : fs::directory_iterator(FDir.File("work"))) fs::remove(entry.path());
    Start("<config><WAIT wait=\"60\"/><Kelvo comport=\"1\" caption=\"Late\"/></config>", row.Display);
    ASSERT_TRUE(test::WaitUntil([&] { return Logged("KelvoPlatform configuration load"); }, 10s))
        << row.Label;
    const TClock::time_point signalled = TClock::now();
    FProgram.Program->Signal(SIGTERM);
    EXPECT_EQ(FProgram.Program->Wait(10s), 0) << row.Label << ": " << FProgram.Program->Stderr();
    EXPECT_LE(TClock::now() - signalled, 5s) << row.Label;
    EXPECT_TRUE(Logged("[Late] Kelvo created")) << row.Label;
  }
}

}  // namespace
}  // namespace duz
