#include "base/EventLogger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/Exception.h"
#include "support/Env.h"
#include "support/TempDir.h"

namespace duz {
namespace {

class EventLoggerTest : public ::testing::Test {
 protected:
  void TearDown() override { TestClock::Reset(); }

  test::TTempDir FDir;
  std::string FPath = FDir.File("events.log");
  test::TScopedEnv FEnv{"DUZEZEVOVIVO_EVENTLOG", FPath};
};

std::vector<std::string> Lines(const std::string& content) {
  std::vector<std::string> lines;
  std::istringstream in(content);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST_F(EventLoggerTest, EntryIsOneTabSeparatedLineWithMillisecondTime) {
  TestClock::Set(EncodeDate(2026, 12, 8) + EncodeTime(22, 5, 52, 123));
  TEventLogger logger("Deredoru");
  EXPECT_TRUE(logger.LogEvent("Service started", EVENTLOG_INFORMATION_TYPE, 0, 7));
  EXPECT_TRUE(logger.LogEvent("Error: port", EVENTLOG_ERROR_TYPE, 65535, 0));
  EXPECT_EQ(test::ReadFile(FPath),
            "2026-12-08T22:05:52.123\tDeredoru\t4\t0\t7\tService started\n"
            "2026-12-08T22:05:52.123\tDeredoru\t1\t65535\t0\tError: port\n");
}

TEST_F(EventLoggerTest, LineBreaksTabsAndBackslashesInTextCannotSplitTheEntry) {
  TestClock::Set(EncodeDate(2026, 1, 2) + EncodeTime(3, 4, 5, 6));
  TEventLogger("src").LogEvent("a\\b\tc\rd\ne", EVENTLOG_WARNING_TYPE, 1, 2);
  EXPECT_EQ(test::ReadFile(FPath), "2026-01-02T03:04:05.006\tsrc\t2\t1\t2\ta\\\\b\\tc\\rd\\ne\n");
}

TEST_F(EventLoggerTest, OutOfRangeArgumentsRaiseAndWriteNothing) {
  struct TCase {
    const char* Label;
    uint32_t Category;
    int32_t Id;
  };
  for (TCase c : {TCase{"category above 16 bits", 65536, 0}, TCase{"negative id", 0, -1}}) {
    EXPECT_THROW(TEventLogger("src").LogEvent("x", EVENTLOG_ERROR_TYPE, c.Category, c.Id), ERangeError)
        << c.Label;
  }
  EXPECT_EQ(test::ReadFile(FPath), "");
}

TEST_F(EventLoggerTest, ConcurrentReportersNeverInterleaveLines) {
  const std::string text(3000, 'x');  // long enough that split writes would show
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      TEventLogger logger("source" + std::to_string(t));
      for (int i = 0; i < 50; ++i) logger.LogEvent(text, EVENTLOG_INFORMATION_TYPE, 0, i);
    });
  for (auto& thread : threads) thread.join();
  std::vector<std::string> lines = Lines(test::ReadFile(FPath));
  ASSERT_EQ(lines.size(), 200u);
  for (const std::string& line : lines) EXPECT_EQ(line.substr(line.size() - text.size() - 1), "\t" + text);
}

TEST_F(EventLoggerTest, PathIsReadAtEveryReport) {
  TEventLogger logger("src");
  logger.LogEvent("first", EVENTLOG_INFORMATION_TYPE, 0, 0);
  std::string other = FDir.File("other.log");
  test::TScopedEnv redirect("DUZEZEVOVIVO_EVENTLOG", other);
  logger.LogEvent("second", EVENTLOG_INFORMATION_TYPE, 0, 0);
  EXPECT_EQ(Lines(test::ReadFile(FPath)).size(), 1u);
  EXPECT_NE(test::ReadFile(other).find("\tsecond\n"), std::string::npos);
}

TEST_F(EventLoggerTest, UnwritableFileOrSymbolicLinkReportsFailureWithoutRaising) {
  test::TScopedEnv redirect("DUZEZEVOVIVO_EVENTLOG", FDir.Path().string());  // a directory
  EXPECT_FALSE(TEventLogger("src").LogEvent("x", EVENTLOG_ERROR_TYPE, 0, 0));
  const std::string target = FDir.File("target");
  test::WriteFile(target, "");
  std::filesystem::create_symlink(target, FPath);
  EXPECT_FALSE(TEventLogger("src").LogEvent("x", EVENTLOG_ERROR_TYPE, 0, 0));
  EXPECT_EQ(test::ReadFile(target), "") << "written through the link";
}

}  // namespace
}  // namespace duz
