#include "base/Journal.h"

#include <gtest/gtest.h>

#include "support/NotifySocket.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// A line break in a value would otherwise end the field and start a bogus one.
TEST(Journal, ValueWithALineBreakGoesWithItsLength) {
  test::TTempDir dir;
  test::TNotifySocket journal(dir.File("journal"));
  ASSERT_EQ(SendJournalEntry(journal.Path(), {{"MESSAGE", "Port lost\nCOM3"}, {"PRIORITY", "3"}}), 0);
  const std::string length("\x0e\0\0\0\0\0\0\0", 8);
  EXPECT_EQ(journal.Receive(2s), "MESSAGE\n" + length + "Port lost\nCOM3\nPRIORITY=3\n");
}

}  // namespace
}  // namespace duz
