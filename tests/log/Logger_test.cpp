#include "log/Logger.h"

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <filesystem>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/DateTime.h"
#include "base/FormatDateTime.h"
#include "log/LogQueue.h"
#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TDateTime At(int day, int hour, int minute, int second, int ms) {
  return EncodeDate(2026, 12, day) + EncodeTime(hour, minute, second, ms);
}

std::string FileNameAt(TDateTime time) { return FormatDateTime("yyyy-mm-dd hh_nn_ss_zzz", time) + ".txt"; }

// Collects what the view is shown, from whichever thread shows it.
class TViewRecorder {
 public:
  void Add(const std::string& text, TDateTime time) {
    std::lock_guard lock(FLock);
    FLines.push_back(text);
    FTimes.push_back(time);
  }
  std::vector<std::string> Lines() {
    std::lock_guard lock(FLock);
    return FLines;
  }
  std::vector<TDateTime> Times() {
    std::lock_guard lock(FLock);
    return FTimes;
  }
  bool WaitFor(const std::string& line) {
    return test::WaitUntil(
        [&] {
          std::lock_guard lock(FLock);
          return std::find(FLines.rbegin(), FLines.rend(), line) != FLines.rend();  // mostly the last
        },
        10s);
  }

 private:
  std::mutex FLock;
  std::vector<std::string> FLines;
  std::vector<TDateTime> FTimes;
};

// Runs each test in a fresh current directory (where the log files go), with the event log in a
// file of its own and the clock standing still.
class LoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FOldDir = fs::current_path();
    fs::current_path(FLogDir.Path());
    TestClock::Set(At(7, 22, 5, 52, 123));
  }
  void TearDown() override {
    StopLogger();
    SetLogViewHook({});
    TestClock::Reset();
    fs::current_path(FOldDir);
  }

  std::vector<std::string> LogFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(FLogDir.Path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }
  std::string Log(const std::string& name) const { return FLogDir.Read(name); }
  std::vector<std::string> Events() const {
    return test::EventTexts(test::ReadEventLog(FEventFile), "log_test");
  }
  void RecordView() {
    SetLogViewHook([this](const std::string& text, TDateTime time) { FView.Add(text, time); });
  }

  test::TTempDir FLogDir;
  test::TTempDir FEventDir;
  std::string FEventFile = FEventDir.File("events");
  test::TScopedEnv FEnv{"DUZEZEVOVIVO_EVENTLOG", FEventFile};
  fs::path FOldDir;
  TViewRecorder FView;
};

TEST_F(LoggerTest, NothingLoggedCreatesNoFile) {
  StartLogger();
  StopLogger();
  EXPECT_TRUE(LogFiles().empty());
}

TEST_F(LoggerTest, LinesBeforeStartAndAfterStopAreDropped) {
  WriteLog("before start");
  StartLogger();
  StopLogger();
  WriteLog("after stop");
  StartLogger();
  StopLogger();
  EXPECT_TRUE(LogFiles().empty());
}

TEST_F(LoggerTest, LineLoggedDuringStopIsDroppedNotCarriedIntoTheNextRun) {
  SetLogViewHook([this](const std::string& text, TDateTime time) {
    FView.Add(text, time);
    WriteLog("late");  // stopping has begun: the writer shows its last batch
  });
  StartLogger();
  WriteLog("last");
  StopLogger();
  SetLogViewHook({});
  TestClock::Advance(1);
  StartLogger();
  WriteLog("next run");
  StopLogger();
  ASSERT_EQ(LogFiles().size(), 2u);
  EXPECT_EQ(Log(LogFiles()[0]), "22:05:52.123; last\r");
  EXPECT_EQ(Log(LogFiles()[1]), "22:05:53.123; next run\r");
}

TEST_F(LoggerTest, LineIsTimeSemicolonTextAndOneCarriageReturnWithEmbeddedBreaksKept) {
  StartLogger();
  WriteLog("one\r\ntwo\nthree\\t");
  WriteLog("");
  StopLogger();
  ASSERT_EQ(LogFiles(), std::vector<std::string>{"2026-12-07 22_05_52_123.txt"});
  EXPECT_EQ(Log(LogFiles()[0]), "22:05:52.123; one\r\ntwo\nthree\\t\r22:05:52.123; \r");
}

TEST_F(LoggerTest, LinesOfSeveralThreadsKeepQueueOrderInOneFile) {
  std::mutex order;
  std::vector<std::string> queued;
  StartLogger();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        std::lock_guard lock(order);  // so that the queue order is known
        queued.push_back(fmt::format("thread {} line {}", t, i));
        WriteLog(queued.back());
      }
    });
  for (auto& thread : threads) thread.join();
  StopLogger();
  std::string expected;
  for (const std::string& line : queued) expected += "22:05:52.123; " + line + "\r";
  ASSERT_EQ(LogFiles().size(), 1u);
  EXPECT_EQ(Log(LogFiles()[0]), expected);
}

TEST_F(LoggerTest, EveryRunStartsANewFileEvenWhenOneOfTheSameDayExists) {
  StartLogger();
  WriteLog("first run");
  StopLogger();
  TestClock::Set(At(7, 23, 0, 0, 0));
  StartLogger();
  WriteLog("second run");
  StopLogger();
  EXPECT_EQ(LogFiles(),
            (std::vector<std::string>{"2026-12-07 22_05_52_123.txt", "2026-12-07 23_00_00_000.txt"}));
  EXPECT_EQ(Log("2026-12-07 23_00_00_000.txt"), "23:00:00.000; second run\r");
}

TEST_F(LoggerTest, BatchStraddlingMidnightGoesToTwoFilesNamedByTheWritersClock) {
  TestClock::Set(At(7, 23, 59, 59, 500));
  StartLogger();  // the writer pauses before its first batch: both lines land in it
  WriteLog("before midnight");
  TestClock::Advance(1);
  WriteLog("after midnight");
  StopLogger();
  // Both files are named when the clock reads 00:00:00.500; the second is kept apart by a ms.
  EXPECT_EQ(LogFiles(),
            (std::vector<std::string>{"2026-12-08 00_00_00_500.txt", "2026-12-08 00_00_00_501.txt"}));
  EXPECT_EQ(Log("2026-12-08 00_00_00_500.txt"), "23:59:59.500; before midnight\r");
  EXPECT_EQ(Log("2026-12-08 00_00_00_501.txt"), "00:00:00.500; after midnight\r");
}

TEST_F(LoggerTest, FailedAttemptsAreReportedOnceAndTheirLinesWrittenAfterRecovery) {
  RecordView();
  // Directories where the next three files would go: opening them for writing fails, even as root.
  for (int ms = 0; ms < 3; ++ms) fs::create_directory(FileNameAt(At(7, 22, 5, 52, 123 + ms)));
  StartLogger();
  for (const char* line : {"lost 1", "lost 2", "lost 3", "recovered"}) {
    WriteLog(line);  // one batch each
    ASSERT_TRUE(FView.WaitFor(line)) << line;
  }
  StopLogger();
  EXPECT_EQ(Events(), (std::vector<std::string>{
                          "Chyba při zápisu do logovacího souboru \"2026-12-07 22_05_52_123.txt\"",
                          "Bylo zaznamenáno 3 neůpěšných pokusů o zápis do logovacích souborů"}));
  EXPECT_EQ(Log("2026-12-07 22_05_52_126.txt"),
            "22:05:52.123; lost 1\r22:05:52.123; lost 2\r22:05:52.123; lost 3\r22:05:52.123; recovered\r");
  EXPECT_EQ(FView.Lines(), (std::vector<std::string>{"lost 1", "lost 2", "lost 3", "recovered"}));
}

// A full disk, as the file size limit of this process makes one: writes end part-way into a line.
class TFullDisk {
 public:
  explicit TFullDisk(rlim_t bytes) {
    std::signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead of ending the process
    getrlimit(RLIMIT_FSIZE, &FOld);
    rlimit full{bytes, FOld.rlim_max};
    setrlimit(RLIMIT_FSIZE, &full);
  }
  ~TFullDisk() { Free(); }
  void Free() { setrlimit(RLIMIT_FSIZE, &FOld); }

 private:
  rlimit FOld{};
};

TEST_F(LoggerTest, FullDiskKeepsOneFileAndLeavesNoHalfLineNorRepeatsAny) {
  RecordView();
  auto line = [](int number) { return "line " + std::to_string(number) + " " + std::string(100, 'x'); };
  TFullDisk disk(300);  // room for two lines and a part of the third; the event log stays smaller
  StartLogger();
  for (int i = 1; i <= 3; ++i) WriteLog(line(i));
  ASSERT_TRUE(FView.WaitFor(line(3)));
  for (int i = 4; i <= 5; ++i) {
    WriteLog(line(i));  // one failed attempt each
    ASSERT_TRUE(FView.WaitFor(line(i)));
    ASSERT_EQ(LogFiles().size(), 1u);
    const std::string log = Log(LogFiles()[0]);
    EXPECT_TRUE(log.empty() || log.ends_with("\r")) << "a failed attempt left half a line";
  }
  disk.Free();
  WriteLog(line(6));
  StopLogger();
  ASSERT_EQ(LogFiles(), std::vector<std::string>{"2026-12-07 22_05_52_123.txt"});
  std::string expected;
  for (int i = 1; i <= 6; ++i) expected += "22:05:52.123; " + line(i) + "\r";
  EXPECT_EQ(Log(LogFiles()[0]), expected);
  ASSERT_EQ(Events().size(), 2u);
  EXPECT_EQ(Events()[0], "Chyba při zápisu do logovacího souboru \"2026-12-07 22_05_52_123.txt\"");
  EXPECT_EQ(Events()[1], "Bylo zaznamenáno 3 neůpěšných pokusů o zápis do logovacích souborů");
}

TEST_F(LoggerTest, SymbolicLinkAtTheFileNameIsNotFollowedAndANewNameIsTaken) {
  RecordView();
  const std::string target = FEventDir.File("target");
  test::WriteFile(target, "untouched");
  fs::create_symlink(target, FileNameAt(At(7, 22, 5, 52, 123)));
  StartLogger();
  WriteLog("refused");
  ASSERT_TRUE(FView.WaitFor("refused"));
  WriteLog("written");
  StopLogger();
  EXPECT_EQ(test::ReadFile(target), "untouched");
  EXPECT_EQ(Log("2026-12-07 22_05_52_124.txt"), "22:05:52.123; refused\r22:05:52.123; written\r");
}

TEST_F(LoggerTest, KeptLinesAreBoundedAndTheDropIsNoted) {
  RecordView();
  // A removed current directory fails every attempt until the writer is given a new one.
  fs::create_directory("gone");
  fs::current_path("gone");
  fs::remove(FLogDir.Path() / "gone");
  StartLogger();
  const int extra = 5;
  for (int i = 0; i < 100000 + extra; ++i) WriteLog(std::to_string(i));
  ASSERT_TRUE(FView.WaitFor(std::to_string(100000 + extra - 1)));
  fs::current_path(FLogDir.Path());
  WriteLog("recovered");
  StopLogger();
  ASSERT_EQ(LogFiles().size(), 1u);
  std::string log = Log(LogFiles()[0]);
  EXPECT_EQ(log.substr(0, 96),
            "22:05:52.123; 5 log lines were dropped while the log files could not be written\r"
            "22:05:52.123; 5\r");
  EXPECT_EQ(std::count(log.begin(), log.end(), '\r'), 1 + 100000 + 1);
  EXPECT_TRUE(log.ends_with("; 100004\r22:05:52.123; recovered\r"));
}

TEST_F(LoggerTest, FloodBeyondTheQueueBoundIsDroppedAndNoted) {
  // The view holds the writer in its first batch while the flood comes.
  std::promise<void> holding, release;
  std::shared_future<void> released = release.get_future().share();
  SetLogViewHook([](const std::string&, TDateTime) {},
                 [&, first = true](const std::function<void()>& job) mutable {
                   if (std::exchange(first, false)) {
                     holding.set_value();
                     released.wait();
                   }
                   job();
                 });
  StartLogger();
  WriteLog("before");
  holding.get_future().wait();
  const std::string text(1000, 'x');
  const size_t lines = TLogQueue::MaxQueuedBytes / text.size() + 1000;
  for (size_t i = 0; i < lines; ++i) WriteLog(text);
  release.set_value();
  StopLogger();
  ASSERT_EQ(LogFiles().size(), 1u);
  const std::string log = Log(LogFiles()[0]);
  const size_t written = std::count(log.begin(), log.end(), '\r') - 2;
  EXPECT_LT(written, lines);
  EXPECT_LE(written * text.size(), TLogQueue::MaxQueuedBytes);
  EXPECT_TRUE(log.ends_with(fmt::format(
      "; {} log lines were dropped: they came faster than the log files took them\r", lines - written)))
      << log.substr(log.size() - 200);
}

TEST_F(LoggerTest, ViewGetsEachLineOnceAfterItIsInTheFile) {
  std::vector<std::string> missingFromFile;
  SetLogViewHook([&](const std::string& text, TDateTime time) {
    std::string files;
    for (const std::string& name : LogFiles()) files += Log(name);
    if (files.find("; " + text + "\r") == std::string::npos) missingFromFile.push_back(text);
    FView.Add(text, time);
  });
  StartLogger();
  WriteLog("first batch");
  ASSERT_TRUE(FView.WaitFor("first batch"));
  TestClock::Advance(0.25);
  WriteLog("second batch");
  StopLogger();
  EXPECT_EQ(FView.Lines(), (std::vector<std::string>{"first batch", "second batch"}));
  EXPECT_EQ(FView.Times(), (std::vector<TDateTime>{At(7, 22, 5, 52, 123), At(7, 22, 5, 52, 373)}));
  EXPECT_TRUE(missingFromFile.empty());
}

// A view thread that serves jobs only when it pumps, like a GUI event loop.
class TViewThreadQueue {
 public:
  // The invoker: queue the job and wait for the view thread to run it (bounded, so a fault fails
  // the test instead of hanging it).
  void Invoke(const std::function<void()>& job) {
    std::unique_lock lock(FLock);
    bool done = false;
    FJobs.push_back([&] {
      job();
      std::lock_guard doneLock(FLock);
      done = true;
      FDone.notify_all();
    });
    if (!FDone.wait_for(lock, 10s, [&] { return done; })) FTimedOut = true;
  }
  void Pump() {
    std::deque<std::function<void()>> jobs;
    {
      std::lock_guard lock(FLock);
      jobs.swap(FJobs);
    }
    for (auto& job : jobs) job();
  }
  bool TimedOut() {
    std::lock_guard lock(FLock);
    return FTimedOut;
  }

 private:
  std::mutex FLock;
  std::condition_variable FDone;
  std::deque<std::function<void()>> FJobs;
  bool FTimedOut = false;
};

TEST_F(LoggerTest, StopWhileTheWriterWaitsForTheViewDoesNotDeadlock) {
  TViewThreadQueue viewThread;
  SetLogViewHook([this](const std::string& text, TDateTime time) { FView.Add(text, time); },
                 [&](const std::function<void()>& job) { viewThread.Invoke(job); });
  StartLogger();
  WriteLog("shown while stopping");
  StopLogger([&] { viewThread.Pump(); });
  EXPECT_FALSE(viewThread.TimedOut());
  EXPECT_EQ(FView.Lines(), std::vector<std::string>{"shown while stopping"});
}

}  // namespace
}  // namespace duz
