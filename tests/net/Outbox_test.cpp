#include "net/Outbox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;

// What the jobs of one test did; shared with the jobs, which may outlive an abandoned outbox.
struct TRecord {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<int> Order;  // numbers of the jobs that ran, in order
  int Running = 0, MostRunning = 0;
  bool GateOpen = true;  // while false, gated jobs wait in their attempt

  void SetGate(bool open) {
    {
      std::lock_guard lock(Lock);
      GateOpen = open;
    }
    Changed.notify_all();
  }
  bool WaitFor(const std::function<bool()>& done) {
    std::unique_lock lock(Lock);
    return Changed.wait_for(lock, 10s, done);
  }
};

class TRecordingJob : public TOutboxJob {
 public:
  TRecordingJob(std::shared_ptr<TRecord> record, int number, bool gated = false)
      : FRecord(std::move(record)), FNumber(number), FGated(gated) {}

  std::optional<std::chrono::seconds> Attempt(const TEventLogger&) override {
    std::unique_lock lock(FRecord->Lock);
    FRecord->MostRunning = std::max(FRecord->MostRunning, ++FRecord->Running);
    FRecord->Changed.notify_all();
    if (FGated) FRecord->Changed.wait(lock, [&] { return FRecord->GateOpen; });
    FRecord->Order.push_back(FNumber);
    --FRecord->Running;
    FRecord->Changed.notify_all();
    return std::nullopt;
  }
  std::string DroppedLine() const override { return "job " + std::to_string(FNumber) + " dropped"; }

 private:
  std::shared_ptr<TRecord> FRecord;
  int FNumber;
  bool FGated;
};

class OutboxTest : public ::testing::Test {
 protected:
  // Job 0 is held in its attempt until the gate opens.
  void PostHeldJob(TOutbox& outbox) {
    FRecord->SetGate(false);
    outbox.Enqueue(std::make_unique<TRecordingJob>(FRecord, 0, true));
    ASSERT_TRUE(FRecord->WaitFor([&] { return FRecord->Running == 1; }));
  }
  std::vector<test::TEventEntry> Events() const { return test::ReadEventLog(FDir.File("events.log")); }

  test::TTempDir FDir;
  test::TScopedEnv FEvents{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
  std::shared_ptr<TRecord> FRecord = std::make_shared<TRecord>();
};

TEST_F(OutboxTest, JobsRunOneAtATimeInTheOrderPosted) {
  TOutbox outbox("Test", TEventLogger("Deredoru"));
  PostHeldJob(outbox);
  for (int number = 1; number < 20; ++number)
    outbox.Enqueue(std::make_unique<TRecordingJob>(FRecord, number));
  EXPECT_EQ(outbox.Pending(), 20u);
  FRecord->SetGate(true);
  ASSERT_TRUE(FRecord->WaitFor([&] { return FRecord->Order.size() == 20; }));
  std::vector<int> expected(20);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(FRecord->Order, expected);
  EXPECT_EQ(FRecord->MostRunning, 1);
  EXPECT_TRUE(test::WaitUntil([&] { return outbox.Pending() == 0; }, 1s));
}

TEST_F(OutboxTest, BeyondTheBoundTheOldestWaitingJobsAreDroppedWithOneWarning) {
  test::TLogCapture log;
  TOutbox outbox("Test", TEventLogger("Deredoru"));
  PostHeldJob(outbox);
  const int last = static_cast<int>(TOutbox::MaxQueued) + 2;
  for (int number = 1; number <= last; ++number)
    outbox.Enqueue(std::make_unique<TRecordingJob>(FRecord, number));
  EXPECT_EQ(outbox.Pending(), TOutbox::MaxQueued + 1) << "the bound and the running job";
  FRecord->SetGate(true);
  ASSERT_TRUE(FRecord->WaitFor([&] { return FRecord->Order.size() == TOutbox::MaxQueued + 1; }));
  EXPECT_EQ(FRecord->Order[0], 0) << "the running job is not waiting, so it is never dropped";
  EXPECT_EQ(FRecord->Order[1], 3);
  EXPECT_EQ(FRecord->Order.back(), last);
  EXPECT_EQ(log.Lines("dropped"), (std::vector<std::string>{"job 1 dropped", "job 2 dropped"}));
  const std::vector<test::TEventEntry> events = Events();
  ASSERT_EQ(events.size(), 1u) << "one warning per outbox, however many are dropped";
  EXPECT_EQ(events[0].Type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(events[0].Text, "Test outbox full: more than 1000 waiting, the oldest are dropped");
}

TEST_F(OutboxTest, EndWaitsForTheRunningJobAtMostTwoSeconds) {
  const struct {
    const char* Label;
    std::chrono::milliseconds HeldFor;
    std::chrono::milliseconds AtLeast, AtMost;
  } rows[] = {
      {"a job that ends soon is waited for", 300ms, 250ms, 1500ms},
      {"a job stuck on its peer is abandoned", 4000ms, 1900ms, 2600ms},
  };
  for (const auto& row : rows) {
    FRecord = std::make_shared<TRecord>();
    auto outbox = std::make_unique<TOutbox>("Test", TEventLogger("Deredoru"));
    PostHeldJob(*outbox);
    outbox->Enqueue(std::make_unique<TRecordingJob>(FRecord, 1));
    std::thread opener([record = FRecord, row] {
      std::this_thread::sleep_for(row.HeldFor);
      record->SetGate(true);
    });
    const auto start = std::chrono::steady_clock::now();
    outbox.reset();
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, row.AtLeast) << row.Label;
    EXPECT_LE(took, row.AtMost) << row.Label;
    opener.join();
    ASSERT_TRUE(FRecord->WaitFor([&] { return FRecord->Order.size() == 1; })) << row.Label;
    std::lock_guard lock(FRecord->Lock);
    EXPECT_EQ(FRecord->Order, std::vector<int>{0}) << row.Label << ": the waiting job is dropped at the end";
  }
  const std::vector<std::string> texts = test::EventTexts(Events(), "Deredoru");
  EXPECT_EQ(texts, std::vector<std::string>(2, "Test outbox closed: 1 waiting dropped"));
}

}  // namespace
}  // namespace duz
