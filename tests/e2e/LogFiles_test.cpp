// The real program's log files on a disk that fills up: the test mounts a small file system over the
// working directory in a mount namespace of the program's own, fills it, then frees it again.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "e2e/DebugProgram.h"
#include "support/EventLogFile.h"
#include "support/PrivateMounts.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

TEST(LogFilesTest, FullDiskLeavesOneFileWhoseLinesAreWholeAndNoneWrittenTwice) {
  if (!test::PrivateMountsAvailable()) GTEST_SKIP() << "no mount namespace can be made here (needs root)";
  test::TDebugProgram program;
  const std::string work = program.Dir.File("work");
  // 16 KiB, most of it taken by a file that the test removes to free the disk again.
  const std::string setup =
      "mount -t tmpfs -o size=16k tmpfs '" + work + "'\ncd '" + work + "'\nhead -c 12288 /dev/zero > filler";
  ASSERT_TRUE(program.Start("<config><KELVO comport=\"1\" caption=\"Room\"/></config>", {},
                            test::InPrivateMounts(setup, {})));
  // The working directory as the program sees it.
  const std::filesystem::path inside = "/proc/" + std::to_string(program.Program->Pid()) + "/root" + work;
  int readings = 0;
  auto feed = [&](int count) {
    for (int i = 0; i < count; ++i) {
      char line[32];
      ++readings;
      std::snprintf(line, sizeof line, "*B1E1+%03d.%02dC\r", readings / 100, readings % 100);
      program.Pty.Write(line);
      std::this_thread::sleep_for(20ms);
    }
  };
  auto events = [&](const std::string& start) {
    int found = 0;
    for (const std::string& text :
         test::EventTexts(test::ReadEventLog(program.Dir.File("events.log")), "duzezevovivo"))
      found += text.starts_with(start);
    return found;
  };
  auto logFiles = [&] {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(inside))
      if (entry.path().extension() == ".txt") files.push_back(entry.path());
    return files;
  };

  feed(100);  // more than the 4 KiB left
  ASSERT_TRUE(test::WaitUntil([&] { return events("Chyba při zápisu") == 1; }, 10s))
      << "the disk never filled";
  feed(50);  // a failed attempt every half second
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(logFiles().size(), 1u) << "a failed attempt made a new file";
  std::filesystem::remove(inside / "filler");
  feed(10);
  ASSERT_TRUE(test::WaitUntil([&] { return events("Bylo zaznamenáno") == 1; }, 10s)) << "never recovered";
  ASSERT_EQ(logFiles().size(), 1u);

  std::string log;
  std::vector<std::string> temperatures;
  test::WaitUntil(
      [&] {
        log = test::ReadFile(logFiles()[0]);
        temperatures.clear();
        for (size_t at = 0; (at = log.find("parse temperature: ", at)) != std::string::npos; ++at)
          temperatures.push_back(log.substr(at, log.find('\r', at) - at));
        return temperatures.size() >= static_cast<size_t>(readings);
      },
      5s);
  // A whole line: "hh:nn:ss.zzz; " and a text of ours, which starts with "[" or a capital.
  auto whole = [](const std::string& line) {
    const std::string shape = "dd:dd:dd.ddd; ";
    if (line.size() <= shape.size()) return false;
    for (size_t i = 0; i < shape.size(); ++i)
      if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(line[i])) : line[i] != shape[i])
        return false;
    return line[shape.size()] == '[' || std::isupper(static_cast<unsigned char>(line[shape.size()]));
  };
  for (size_t at = 0, end; (end = log.find('\r', at)) != std::string::npos; at = end + 1)
    EXPECT_TRUE(whole(log.substr(at, end - at))) << "a torn line: " << log.substr(at, end - at);
  EXPECT_TRUE(log.ends_with("\r"));
  ASSERT_EQ(temperatures.size(), static_cast<size_t>(readings)) << "a reading was lost or written twice";
  std::sort(temperatures.begin(), temperatures.end());
  EXPECT_EQ(std::adjacent_find(temperatures.begin(), temperatures.end()), temperatures.end())
      << "a line was written twice";
}

}  // namespace
}  // namespace duz
