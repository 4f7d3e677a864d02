#include "core/Shutdown.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "base/EventLogger.h"
#include "base/Exception.h"
#include "support/Env.h"
#include "support/EventLogFile.h"
#include "support/TempDir.h"

namespace duz {
namespace {

int Flags(const std::string& children, const std::string& versionName) {
  pugi::xml_document document;
  document.load_string(("<config>" + children + "<KELVO/></config>").c_str());
  return ShutdownFlags(document.document_element(), versionName);
}

TEST(ShutdownFlagsTest, ElementThatApplies) {
  const struct {
    const char* Label;
    const char* Children;
    const char* Version;
    int Expected;
  } rows[] = {
      {"no element", "", "", DefaultShutdownFlags},
      {"version element after DEFAULT",
       R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN type="xp" value="1"/>)", "XP", 1},
      {"version element before DEFAULT",
       R"(<SHUTDOWN type="xp" value="1"/><SHUTDOWN type="DEFAULT" value="2"/>)", "XP", 1},
      {"empty version name takes DEFAULT",
       R"(<SHUTDOWN type="xp" value="1"/><SHUTDOWN type="Default" value="2"/>)", "", 2},
      {"present but empty type matches the empty name",
       R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN type="" value="5"/>)", "", 5},
      {"first DEFAULT wins", R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN type="DEFAULT" value="1"/>)",
       "", 2},
      {"other case of the element name is not seen", R"(<Shutdown type="DEFAULT" value="2"/>)", "",
       DefaultShutdownFlags},
      {"elements below the root are not seen", R"(<X><SHUTDOWN type="DEFAULT" value="2"/></X>)", "",
       DefaultShutdownFlags},
      {"walk ends before an element without type", R"(<SHUTDOWN type="" value="6"/><SHUTDOWN value="1"/>)",
       "", 6},
      {"unused element needs no value", R"(<SHUTDOWN type="XP"/>)", "", DefaultShutdownFlags},
  };
  for (const auto& row : rows) EXPECT_EQ(Flags(row.Children, row.Version), row.Expected) << row.Label;
}

TEST(ShutdownFlagsTest, BadElementsMetByTheWalkFail) {
  const struct {
    const char* Label;
    const char* Children;
  } rows[] = {
      {"missing type", R"(<SHUTDOWN type="DEFAULT" value="2"/><SHUTDOWN value="1"/>)"},
      {"taken DEFAULT without value", R"(<SHUTDOWN type="DEFAULT"/>)"},
      {"taken element with text value", R"(<SHUTDOWN type="" value="off"/>)"},
  };
  for (const auto& row : rows) EXPECT_THROW(Flags(row.Children, ""), Exception) << row.Label;
}

// The computer would go on running unwatched after a request that was not made: the operator must
// learn of it.
TEST(ShutdownRequestTest, RequestThatCannotBeMadeIsAnEventLogError) {
  using namespace std::chrono_literals;
  test::TTempDir dir;
  dir.Write("shutdown", "#!/bin/sh\necho \"$@\" >> '" + dir.File("shutdown.log") + "'\n");
  chmod(dir.File("shutdown").c_str(), 0755);
  test::TScopedEnv events("DUZEZEVOVIVO_EVENTLOG", dir.File("events.log"));
  const struct {
    const char* Label;
    int Flags;
    std::string Command;
    std::string Run;    // what the command recorded
    std::string Event;  // "" for none
  } rows[] = {
      {"power off", 9, dir.File("shutdown"), "9\n", ""},
      {"reboot", 6, dir.File("shutdown"), "6\n", ""},
      {"log-off names no shutdown", 4, dir.File("shutdown"), "",
       "Shutdown request failed: the flags 4 name no kind of shutdown"},
      {"command that does not start", 9, dir.File("missing"), "",
       "Shutdown request failed: \"" + dir.File("missing") + "\" cannot be started"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove(dir.File("shutdown.log"));
    std::filesystem::remove(dir.File("events.log"));
    test::TScopedEnv command("DUZEZEVOVIVO_SHUTDOWN_COMMAND", row.Command);
    RequestSystemShutdown(row.Flags, TEventLogger("Deredoru"));
    if (!row.Run.empty()) {
      EXPECT_TRUE(test::WaitUntil([&] { return dir.Read("shutdown.log") == row.Run; }, 5s)) << row.Label;
    }
    const std::vector<std::string> texts =
        test::EventTexts(test::ReadEventLog(dir.File("events.log")), "Deredoru");
    EXPECT_EQ(texts, row.Event.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.Event})
        << row.Label;
  }
  EXPECT_EQ(dir.Read("shutdown.log"), "") << "nothing is started for the log-off or the missing command";
}

}  // namespace
}  // namespace duz
