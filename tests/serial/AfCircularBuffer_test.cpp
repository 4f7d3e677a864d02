#include "serial/AfCircularBuffer.h"

#include <gtest/gtest.h>

#include <string>

namespace duz {
namespace {

// Everything queued, read the way the port writes it out: run by run.
std::string Drain(TAfCircularBuffer& buffer) {
  std::string out;
  while (!buffer.Empty()) {
    std::string_view run = buffer.ContiguousRun();
    out.append(run);
    buffer.Remove(run.size());
  }
  return out;
}

TEST(AfCircularBufferTest, PutIsAllOrNothing) {
  struct TCase {
    const char* Label;
    size_t Queued;  // bytes already in an 8-byte buffer
    std::string Data;
    bool Accepted;
  };
  const TCase cases[] = {
      {"empty data is refused", 0, "", false},
      {"one byte more than the free room", 3, "abcdef", false},
      {"larger than the whole buffer", 0, "123456789", false},
      {"exactly the free room", 3, "abcde", true},
      {"less than the free room", 3, "ab", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Label);
    TAfCircularBuffer buffer(8);
    std::string before(c.Queued, 'x');
    if (!before.empty()) {
      ASSERT_TRUE(buffer.Put(before));
    }
    EXPECT_EQ(buffer.Put(c.Data), c.Accepted);
    EXPECT_EQ(Drain(buffer), c.Accepted ? before + c.Data : before);
  }
}

TEST(AfCircularBufferTest, WrappedDataComesOutInOrderInTwoRuns) {
  TAfCircularBuffer buffer(8);
  ASSERT_TRUE(buffer.Put("012345"));
  buffer.Remove(4);
  ASSERT_TRUE(buffer.Put("6789ab"));  // fills positions 6, 7, then 0..3
  EXPECT_EQ(buffer.Used(), 8u);
  EXPECT_EQ(buffer.ContiguousRun(), "4567");
  buffer.Remove(4);
  EXPECT_EQ(buffer.ContiguousRun(), "89ab");
  buffer.Remove(4);
  EXPECT_TRUE(buffer.Empty());
}

TEST(AfCircularBufferTest, FullBufferIsNotMistakenForEmpty) {
  TAfCircularBuffer buffer(4);
  ASSERT_TRUE(buffer.Put("ab"));
  buffer.Remove(2);
  ASSERT_TRUE(buffer.Put("cdef"));  // write position meets the read position again
  EXPECT_TRUE(buffer.Full());
  EXPECT_FALSE(buffer.Empty());
  EXPECT_EQ(buffer.Free(), 0u);
  EXPECT_FALSE(buffer.Put("g"));
  buffer.Remove(1);
  EXPECT_FALSE(buffer.Full());
  EXPECT_EQ(buffer.Free(), 1u);
  EXPECT_EQ(Drain(buffer), "def");
}

TEST(AfCircularBufferTest, ClearDropsEverythingQueued) {
  TAfCircularBuffer buffer(4);
  ASSERT_TRUE(buffer.Put("abcd"));
  buffer.Clear();
  EXPECT_TRUE(buffer.Empty());
  EXPECT_EQ(buffer.Free(), 4u);
  ASSERT_TRUE(buffer.Put("xy"));
  EXPECT_EQ(Drain(buffer), "xy");
}

}  // namespace
}  // namespace duz
