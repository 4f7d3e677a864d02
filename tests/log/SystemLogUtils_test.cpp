#include "log/SystemLogUtils.h"

#include <gtest/gtest.h>

#include "support/Env.h"
#include "support/TempDir.h"

namespace duz {
namespace {

TEST(ReportSystemEventTest, ReportsUnderTheExecutableNameWithoutDirectory) {
  test::TTempDir dir;
  test::TScopedEnv env("DUZEZEVOVIVO_EVENTLOG", dir.File("events"));
  EXPECT_TRUE(ReportSystemEvent("text", 1, 0, 0));
  std::string line = dir.Read("events");
  EXPECT_NE(line.find("\tlog_test\t1\t0\t0\ttext\n"), std::string::npos) << line;
}

TEST(ReportSystemEventTest, OutOfRangeArgumentsFailWithoutRaisingOrWriting) {
  test::TTempDir dir;
  test::TScopedEnv env("DUZEZEVOVIVO_EVENTLOG", dir.File("events"));
  struct TCase {
    const char* Label;
    uint32_t Type, Category;
    int32_t Id;
  };
  for (TCase c : {TCase{"type above 16 bits", 0x10000, 0, 0}, TCase{"category above 16 bits", 1, 0x10000, 0},
                  TCase{"negative id", 1, 0, -1}})
    EXPECT_FALSE(ReportSystemEvent("x", c.Type, c.Category, c.Id)) << c.Label;
  EXPECT_EQ(dir.Read("events"), "");
}

}  // namespace
}  // namespace duz
