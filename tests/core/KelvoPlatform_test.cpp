#include "core/KelvoPlatform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/EventLoop.h"
#include "base/Exception.h"
#include "base/StopSignal.h"
#include "config/Registry.h"
#include "config/XmlHelpers.h"
#include "core/Kelvo.h"
#include "core/KelvoChild.h"
#include "log/Logger.h"
#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/LogCapture.h"
#include "support/Pty.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using test::TScopedEnv;
using test::TTempDir;
using test::WaitUntil;

// What the recording children of the subservices saw, shared by the test and the tick thread.
struct TRecord {
  std::mutex Lock;
  std::vector<int> Created;    // comport of each subservice, in creation order
  std::vector<int> Ticks;      // comport of each tick, in order
  std::vector<int> Destroyed;  // comport of each destruction, in order
  std::chrono::milliseconds TickLength{0};
  std::atomic<bool> InTick{false};
  std::atomic<bool> DestroyedDuringTick{false};

  size_t TickCount() {
    std::lock_guard lock(Lock);
    return Ticks.size();
  }
};

class TRecordingChild : public TKelvoChild {
 public:
  TRecordingChild(TKelvo& subservice, int comport, TRecord& record)
      : TKelvoChild(subservice), FComport(comport), FRecord(record) {
    std::lock_guard lock(FRecord.Lock);
    FRecord.Created.push_back(comport);
  }
  ~TRecordingChild() override {
    if (FRecord.InTick) FRecord.DestroyedDuringTick = true;
    std::lock_guard lock(FRecord.Lock);
    FRecord.Destroyed.push_back(FComport);
  }
  void Tick() override {
    FRecord.InTick = true;
    std::this_thread::sleep_for(FRecord.TickLength);
    {
      std::lock_guard lock(FRecord.Lock);
      FRecord.Ticks.push_back(FComport);
    }
    FRecord.InTick = false;
  }

 private:
  int FComport;
  TRecord& FRecord;
};

// A view for a VIEW element that notes how many thermometers the board shows when it comes and
// goes; one for a BADVIEW element fails.
std::mutex ViewNotesLock;
std::vector<std::string> ViewNotes;  // guarded by ViewNotesLock

class TNotingView : public TPlatformView {
 public:
  explicit TNotingView(const TStatusBoard& board) : FBoard(board) { Note("came"); }
  ~TNotingView() override { Note("went"); }

 private:
  void Note(const std::string& what) {
    std::lock_guard lock(ViewNotesLock);
    ViewNotes.push_back(what + " with " + std::to_string(FBoard.TakeSnapshot().Thermometers.size()) +
                        " thermometers");
  }
  const TStatusBoard& FBoard;
};

const TPlatformViewFactories TestViews = {[](const pugi::xml_document& config, TStatusBoard&,
                                             const TEventLogger&) -> std::unique_ptr<TPlatformView> {
                                            if (config.document_element().child("BADVIEW"))
                                              throw Exception("the view is bad");
                                            return nullptr;
                                          },
                                          [](const pugi::xml_document& config, TStatusBoard& board,
                                             const TEventLogger&) -> std::unique_ptr<TPlatformView> {
                                            if (!config.document_element().child("VIEW")) return nullptr;
                                            return std::make_unique<TNotingView>(board);
                                          }};

class KelvoPlatformTest : public ::testing::Test {
 protected:
  TTempDir FDir;
  TScopedEnv FRegistry{"DUZEZEVOVIVO_REGISTRY", FDir.File("registry.reg")};
  TScopedEnv FEventLog{"DUZEZEVOVIVO_EVENTLOG", FDir.File("events.log")};
  TScopedEnv FShutdown{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"};
  test::TPty FPorts[3];  // COM1 to COM3
  TEventLoop FLoop;
  TRecord FRecord;

  static constexpr TDateTime StartTime = 46000.5;

  KelvoPlatformTest() {
    TestClock::Set(StartTime);
    for (int i = 0; i < 3; ++i)
      RegistryWriteString("SOFTWARE\\Quellix\\Duzezevovivo\\ComPorts", "COM" + std::to_string(i + 1),
                          FPorts[i].SlavePath());
  }
  ~KelvoPlatformTest() override { TestClock::Reset(); }

  void UseConfig(const std::string& xml) {
    FDir.Write("config.xml", xml);
    RegistryWriteString("SOFTWARE\\Quellix\\Duzezevovivo", "config", FDir.File("config.xml"));
  }

  // Thermometer subservices, each with a child that records what it sees.
  std::unique_ptr<TKelvoPlatform> Create(const TStopSignal* stop = nullptr) {
    return std::make_unique<TKelvoPlatform>(
        nullptr,
        [this](TKelvoPlatform& owner, pugi::xml_node element) {
          auto* kelvo = new TKelvo(owner, element);
          new TRecordingChild(*kelvo, kelvo->Status().Copy().ComPort, FRecord);
        },
        TestViews, stop);
  }

  // The texts of the event-log entries, each checked to be an error of our source.
  std::vector<std::string> EventTexts() {
    const std::vector<test::TEventEntry> entries = test::ReadEventLog(FDir.File("events.log"));
    for (const test::TEventEntry& entry : entries)
      EXPECT_TRUE(entry.Source == "Deredoru" && entry.Type == 1 && entry.Category == 0 && entry.Id == 0)
          << entry.Text;
    return test::EventTexts(entries, "Deredoru");
  }
};

TEST_F(KelvoPlatformTest, KelvoElementsOfAnyCaseCreateSubservicesInOrderAfterTheWait) {
  UseConfig(
      "<config>\n"
      "  <WAIT wait=\"0.2\"/>\n"
      "  <Kelvo comport=\"1\"/>\n"
      "  <!-- <Kelvo comport=\"9\"/> -->\n"
      "  <Shutdown/><SHUTDOWN/><SMTP/><Other comport=\"8\"/>stray text\n"
      "  <kelvo comport=\"2\"><CONDITION/></kelvo>\n"
      "</config>\n");
  auto platform = Create();
  EXPECT_NEAR((Now() - StartTime) * SecondsPerDay, 0.2, 1e-6) << "the pause moves the set clock";
  EXPECT_EQ(FRecord.Created, (std::vector<int>{1, 2}));
  EXPECT_EQ(platform->ComponentCount(), 2);
  EXPECT_EQ(std::string(platform->Config().document_element().child("kelvo").first_child().name()),
            "CONDITION");
  EXPECT_TRUE(EventTexts().empty());
  platform.reset();
  EXPECT_EQ(FRecord.Destroyed, (std::vector<int>{2, 1}));
}

TEST_F(KelvoPlatformTest, StopSignalEndsEveryWaitPauseAndTheLoadingGoesOn) {
  UseConfig("<r><WAIT wait=\"60\"/><Kelvo comport=\"1\"/><WAIT wait=\"60\"/><Kelvo comport=\"2\"/></r>");
  TestClock::Reset();  // a set clock would make the pauses take no time at all
  TStopSignal stop;
  std::thread stopper([&] {
    std::this_thread::sleep_for(200ms);
    stop.Raise();
  });
  const auto start = std::chrono::steady_clock::now();
  auto platform = Create(&stop);
  const auto took = std::chrono::steady_clock::now() - start;
  stopper.join();
  EXPECT_GE(took, 150ms) << "the first pause lasts until the stop";
  EXPECT_LT(took, 5s);
  EXPECT_EQ(FRecord.Created, (std::vector<int>{1, 2}));
}

TEST_F(KelvoPlatformTest, NegativeWaitPausesNothing) {
  UseConfig("<r><WAIT wait=\"-1\"/><Kelvo comport=\"3\"/></r>");
  auto platform = Create();
  // Taken as unsigned milliseconds, -1 s would be about 49 days.
  EXPECT_EQ(Now(), StartTime);
  EXPECT_EQ(FRecord.Created, std::vector<int>{3});
}

TEST_F(KelvoPlatformTest, BadWaitEndsLoadingAndFreesWhatWasCreated) {
  UseConfig("<r><Kelvo comport=\"1\"/><WAIT wait=\"soon\"/><Kelvo comport=\"2\"/></r>");
  EXPECT_THROW(Create(), EConvertError);
  EXPECT_EQ(FRecord.Created, std::vector<int>{1});
  EXPECT_EQ(FRecord.Destroyed, std::vector<int>{1});
}

// A subservice whose child fails is not shown either: its status goes with it.
TEST_F(KelvoPlatformTest, FailingElementIsReportedAndTheNextOneIsStillCreated) {
  UseConfig(
      "<r>\n  <Kelvo caption=\"Server &amp; room\">\n    <SAVE/>\n  </Kelvo>\n"
      "  <Kelvo comport=\"1\"><CONDITION><max value=\"hot\"/></CONDITION></Kelvo>\n  <KELVO "
      "comport=\"2\"/>\n</r>");
  auto platform = Create();
  EXPECT_EQ(FRecord.Created, std::vector<int>{2});
  EXPECT_EQ(EventTexts(),
            (std::vector<std::string>{
                "Cannot create Kelvo subservice!\\r<Kelvo caption=\"Server &amp; room\"><SAVE/></Kelvo>"
                "\\rNumber of ComPort is not set!",
                "Cannot create Kelvo subservice!\\r<Kelvo comport=\"1\"><CONDITION><max value=\"hot\"/>"
                "</CONDITION></Kelvo>\\rmax value \"hot\" is not a number"}));
  const TPlatformSnapshot shown = platform->StatusBoard()->TakeSnapshot();
  ASSERT_EQ(shown.Thermometers.size(), 1u);
  EXPECT_EQ(shown.Thermometers[0].ComPort, 2);
}

TEST_F(KelvoPlatformTest, MissingConfigurationIsReportedWithItsPath) {
  struct TRow {
    const char* Label;
    std::string Path;  // written to the registry unless empty
  } rows[] = {
      {"no registry value", ""},
      {"no such file", FDir.File("missing.xml")},
      {"a folder is not a file", FDir.File("folder.xml")},
  };
  std::filesystem::create_directory(FDir.File("folder.xml"));
  for (const auto& row : rows) {
    if (!row.Path.empty()) RegistryWriteString("SOFTWARE\\Quellix\\Duzezevovivo", "config", row.Path);
    std::filesystem::remove(FDir.File("events.log"));
    auto platform = Create();
    EXPECT_EQ(platform->ComponentCount(), 0) << row.Label;
    EXPECT_EQ(EventTexts(), std::vector<std::string>{"Config file not found! (" + row.Path + ")"})
        << row.Label;
  }
}

TEST_F(KelvoPlatformTest, ConfigurationErrorsLeaveTheConstructor) {
  UseConfig("<config>\n  <Kelvo comport=\"1\">\n  </kelvo>\n</config>\n");
  try {
    Create();
    ADD_FAILURE() << "a file that is not well-formed was loaded";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), FDir.File("config.xml") + "(3,5): Start-end tags mismatch");
  }
  EXPECT_TRUE(FRecord.Created.empty());

  FDir.Write("registry.reg",
             "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quellix\\Duzezevovivo]\n"
             "\"config\"=dword:00000001\n");
  EXPECT_THROW(Create(), ERegistryException);
}

TEST_F(KelvoPlatformTest, FirstTickComesOnlyAfterThirtySecondsThenInCreationOrder) {
  UseConfig("<r><Kelvo comport=\"1\"/><Kelvo comport=\"2\"/></r>");
  auto platform = Create();
  TestClock::Advance(29);
  std::this_thread::sleep_for(1200ms);  // more than one tick pause
  EXPECT_EQ(FRecord.TickCount(), 0u);
  TestClock::Advance(2);
  ASSERT_TRUE(WaitUntil([&] { return FRecord.TickCount() >= 2; }, 5s));
  std::lock_guard lock(FRecord.Lock);
  EXPECT_EQ(std::vector<int>(FRecord.Ticks.begin(), FRecord.Ticks.begin() + 2), (std::vector<int>{1, 2}));
}

TEST_F(KelvoPlatformTest, WallClockSetBackDoesNotDelayTheFirstTick) {
  UseConfig("<r><Kelvo comport=\"1\"/></r>");
  auto platform = Create();
  TestClock::StepWall(-3600);  // the clock is set at boot, an hour back
  TestClock::Advance(31);
  EXPECT_TRUE(WaitUntil([&] { return FRecord.TickCount() >= 1; }, 5s));
}

TEST_F(KelvoPlatformTest, DestructionWaitsForTheCurrentTick) {
  UseConfig("<r><Kelvo comport=\"1\"/></r>");
  FRecord.TickLength = 300ms;
  auto platform = Create();
  TestClock::Advance(31);
  ASSERT_TRUE(WaitUntil([&] { return FRecord.InTick.load(); }, 5s));
  platform.reset();
  EXPECT_FALSE(FRecord.DestroyedDuringTick);
  EXPECT_EQ(FRecord.TickCount(), 1u);
  EXPECT_EQ(FRecord.Destroyed, std::vector<int>{1});
}

TEST_F(KelvoPlatformTest, DebugModeLogsTheLifeCycleInOrder) {
  UseConfig("<r><Kelvo comport=\"1\"/></r>");
  test::TLogCapture log;
  Create().reset();
  const std::vector<std::string> lines = log.Lines("KelvoPlatform");
  EXPECT_EQ(lines, (std::vector<std::string>{"KelvoPlatform create", "KelvoPlatform configuration load",
                                             "KelvoPlatform confuguration loaded", "KelvoPlatform created",
                                             "KelvoPlatform destroy", "KelvoPlatform destroyed"}));
}

TEST_F(KelvoPlatformTest, ViewsComeAfterTheSubservicesAndGoBeforeThemAndAFailingOneIsReported) {
  UseConfig("<r><BADVIEW/><VIEW/><Kelvo comport=\"1\"/><Kelvo comport=\"2\"/></r>");
  auto platform = Create();
  EXPECT_EQ(ViewNotes, std::vector<std::string>{"came with 2 thermometers"});
  EXPECT_EQ(EventTexts(), std::vector<std::string>{"the view is bad"});
  platform.reset();
  EXPECT_EQ(ViewNotes, (std::vector<std::string>{"came with 2 thermometers", "went with 2 thermometers"}));
  EXPECT_EQ(FRecord.Destroyed, (std::vector<int>{2, 1}));
}

// Nothing of a platform is process-wide: a second one has its own thermometers, status board and
// shutdown timers, and the shutdown of one leaves the other watching.
TEST_F(KelvoPlatformTest, TwoPlatformsInOneProcessKeepToTheirOwn) {
  UseConfig(
      R"(<r><Kelvo comport="1" caption="A"><CONDITION><off value="50" wait="60"/></CONDITION></Kelvo></r>)");
  auto first = Create();
  UseConfig(R"(<r><Kelvo comport="2" caption="B"/></r>)");
  auto second = Create();
  const auto captions = [](const TKelvoPlatform& platform) {
    std::vector<std::string> shown;
    for (const auto& thermometer : platform.StatusBoard()->TakeSnapshot().Thermometers)
      shown.push_back(thermometer.Caption);
    return shown;
  };
  EXPECT_EQ(captions(*first), std::vector<std::string>{"A"});
  EXPECT_EQ(captions(*second), std::vector<std::string>{"B"});

  FPorts[0].Write("*B1E1+020.0C\r*B1E1+060.0C\r");
  ASSERT_TRUE(FLoop.RunUntil([&] { return first->ShutdownTimers().Running() == 1; }, 3s));
  EXPECT_TRUE(first->StatusBoard()->TakeSnapshot().ShutdownPending);
  EXPECT_FALSE(second->StatusBoard()->TakeSnapshot().ShutdownPending);

  first->ShutdownComputer(first->Config().document_element());
  EXPECT_EQ(first->ComponentCount(), 0);
  EXPECT_TRUE(captions(*first).empty());
  EXPECT_EQ(second->ComponentCount(), 1);
  EXPECT_EQ(captions(*second), std::vector<std::string>{"B"});
}

}  // namespace
}  // namespace duz
