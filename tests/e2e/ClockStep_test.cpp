// The real program when the local clock goes back an hour at the end of summer time: a time zone
// made by the test ends its summer time a few seconds after the first tick, and saves go on. The
// first tick comes 2 s after the start (DUZEZEVOVIVO_FIRST_TICK) instead of 30.
#include <cstdio>
#include <ctime>

#include "e2e/DebugProgram.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// A POSIX time zone, one hour ahead of UTC in summer, whose summer time runs from the start of the
// year until the moment given (in UTC); then its local clock shows an hour less.
std::string ZoneWhoseSummerTimeEndsAt(std::time_t end) {
  const std::time_t summer = end + 3600;  // the end is written in summer (local) time
  std::tm local{};
  gmtime_r(&summer, &local);
  char rule[64];
  std::snprintf(rule, sizeof rule, "XST0XDT-1,0/0,%d/%02d:%02d:%02d", local.tm_yday, local.tm_hour,
                local.tm_min, local.tm_sec);
  return rule;
}

TEST(ClockStepTest, EndOfSummerTimeDoesNotPauseTheSaves) {
  test::TDebugProgram program;
  const std::time_t start = std::time(nullptr);
  const std::string saved = program.Dir.File("saved.txt");
  ASSERT_TRUE(
      program.Start("<config><KELVO comport=\"1\" caption=\"Room\"><SAVE type=\"TXT\" interval=\"0\" "
                    "filename=\"saved\" directory=\"" +
                        program.Dir.File("") + "\"><![CDATA[%DATETIME(hh:nn:ss)%]]></SAVE></KELVO></config>",
                    {{"TZ", ZoneWhoseSummerTimeEndsAt(start + 8)}, {"DUZEZEVOVIVO_FIRST_TICK", "2"}}));
  // Saves on every tick from 2 s after the start; the clock goes back at 8 s.
  auto lines = [&] {
    std::vector<std::string> stamps;
    const std::string text = test::ReadFile(saved);
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
      stamps.push_back(text.substr(at, end - at));
    return stamps;
  };
  ASSERT_TRUE(test::WaitUntil([&] { return lines().size() >= 3; }, 10s)) << program.Program->Stdout();
  ASSERT_TRUE(test::WaitUntil([&] { return lines().size() >= 10; }, 15s)) << "the saves paused";
  const std::vector<std::string> stamps = lines();
  auto seconds = [](const std::string& stamp) {
    int hour = 0, minute = 0, second = 0;
    std::sscanf(stamp.c_str(), "%d:%d:%d", &hour, &minute, &second);
    return (hour * 60 + minute) * 60 + second;
  };
  const int ahead = (seconds(stamps.back()) - seconds(stamps.front()) + 86400) % 86400;
  EXPECT_GT(ahead, 86400 - 3600) << stamps.front() << " to " << stamps.back()
                                 << ": the clock did not go back";
}

}  // namespace
}  // namespace duz
