#include "service/Deredoru.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "core/KelvoPlatform.h"
#include "support/CountedView.h"
#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/NotifySocket.h"
#include "support/RegistryFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

class DeredoruTest : public ::testing::Test {
 protected:
  void WriteConfig(const std::string& xml) {
    Dir.Write("config.xml", xml);
    test::WriteRegistryFile(Dir.File("registry.reg"), Dir.File("config.xml"), {{250, Dir.File("no-device")}});
  }
  // "text type/category" of each entry under the service's source; the id is always 0.
  Texts Events() const {
    Texts events;
    for (const test::TEventEntry& entry : test::ReadEventLog(Dir.File("events.log"))) {
      EXPECT_EQ(entry.Id, 0) << entry.Text;
      if (entry.Source == ServiceName)
        events.push_back(entry.Text + " " + std::to_string(entry.Type) + "/" +
                         std::to_string(entry.Category));
    }
    return events;
  }
  static bool WaitEnded(const TDeredoru& module) {
    return test::WaitUntil([&] { return module.Ended(); }, 10s);
  }

  test::TTempDir Dir;
  test::TNotifySocket Manager{Dir.File("notify")};
  test::TScopedEnv Notify{"NOTIFY_SOCKET", Manager.Path()};
  test::TScopedEnv EventLog{"DUZEZEVOVIVO_EVENTLOG", Dir.File("events.log")};
  test::TScopedEnv Registry{"DUZEZEVOVIVO_REGISTRY", Dir.File("registry.reg")};
  test::TScopedEnv Shutdown{"DUZEZEVOVIVO_SHUTDOWN_COMMAND", "true"};
  std::atomic<int> Platforms{0};  // counted by the one view of each platform
};

TEST_F(DeredoruTest, StopRunsTheLifeCycleOnceAndInOrder) {
  WriteConfig("<KELVOS/>");
  {
    TDeredoru module(test::CountedViews(Platforms));
    ASSERT_EQ(module.Start(), 0);
    EXPECT_EQ(Manager.Receive(5s), "STATUS=Start pending");
    EXPECT_TRUE(Manager.WaitFor("READY=1", 5s));
    module.Control(TServiceControl::Stop);
    module.Control(TServiceControl::Stop);
    ASSERT_TRUE(WaitEnded(module));
    EXPECT_TRUE(Manager.WaitFor("STOPPING=1", 5s));
    EXPECT_EQ(module.Finish(), 0);
    EXPECT_EQ(Platforms, 0) << "the stop frees the platform";
    EXPECT_EQ(Events(), (Texts{"Create 4/5", "Start 4/1", "Stop 4/2"}));
  }
  EXPECT_EQ(Events(), (Texts{"Create 4/5", "Start 4/1", "Stop 4/2", "Destroy 4/4"}));
}

TEST_F(DeredoruTest, ShutdownLeavesThePlatformToTheModulesEnd) {
  WriteConfig("<KELVOS/>");
  {
    TDeredoru module(test::CountedViews(Platforms));
    ASSERT_EQ(module.Start(), 0);
    ASSERT_TRUE(Manager.WaitFor("READY=1", 5s));
    module.Control(TServiceControl::Shutdown);
    ASSERT_TRUE(WaitEnded(module));
    EXPECT_EQ(module.Finish(), 0);
    EXPECT_EQ(Platforms, 1);
  }
  EXPECT_EQ(Platforms, 0) << "the platform goes with the module";
  EXPECT_EQ(Events(), (Texts{"Create 4/5", "Start 4/1", "Shutdown 4/3", "Destroy 4/4"}));
}

// The port's failure is reported in the service's event log while the platform is created; the stop,
// queued before, ends the long WAIT at once, comes after the creation and still frees the platform.
TEST_F(DeredoruTest, StopDuringPlatformCreationEndsItsWaitAndIsHandledAfterIt) {
  WriteConfig("<KELVOS><WAIT wait=\"60\"/><KELVO comport=\"250\"/></KELVOS>");
  {
    TDeredoru module(test::CountedViews(Platforms));
    ASSERT_EQ(module.Start(), 0);
    module.Control(TServiceControl::Stop);
    ASSERT_TRUE(WaitEnded(module));
    EXPECT_EQ(module.Finish(), 0);
    EXPECT_EQ(Platforms, 0);
  }
  const Texts events = Events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[1], "Start 4/1");
  EXPECT_EQ(events[2].rfind("Error: ", 0), 0u) << events[2];
  EXPECT_NE(events[2].find("COM250"), std::string::npos) << events[2];
  EXPECT_EQ(events[3], "Stop 4/2");
}

TEST_F(DeredoruTest, FailedPlatformCreationEndsTheServiceWithAnError) {
  WriteConfig("<KELVOS>");
  {
    TDeredoru module(test::CountedViews(Platforms));
    ASSERT_EQ(module.Start(), 0);
    ASSERT_TRUE(WaitEnded(module));
    EXPECT_EQ(module.Finish(), 1);
  }
  const Texts events = Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].rfind("Service failed on execute: ", 0), 0u) << events[2];
  EXPECT_EQ(events[2].substr(events[2].size() - 4), " 1/0");
  EXPECT_EQ(events[3], "Destroy 4/4");
}

TEST_F(DeredoruTest, StartWithoutAManagerStartsNothing) {
  test::TScopedEnv noManager("NOTIFY_SOCKET", "");
  WriteConfig("<KELVOS/>");
  {
    TDeredoru module(test::CountedViews(Platforms));
    EXPECT_EQ(module.Start(), ECONNREFUSED);
  }
  EXPECT_EQ(Platforms, 0);
  EXPECT_EQ(Events(), (Texts{"Create 4/5", "Destroy 4/4"}));
}

}  // namespace
}  // namespace duz
