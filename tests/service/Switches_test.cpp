#include "service/Switches.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

struct TSwitchCase {
  const char* Label;
  std::vector<std::string> Arguments;
  bool Debug;
};

// Test names show the label, not the bytes of the case.
void PrintTo(const TSwitchCase& c, std::ostream* os) { *os << c.Label; }

class SwitchesTest : public ::testing::TestWithParam<TSwitchCase> {};

TEST_P(SwitchesTest, DebugNeedsADashOrSlashAndIgnoresCase) {
  EXPECT_EQ(ParseSwitches(GetParam().Arguments).Debug, GetParam().Debug);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, SwitchesTest,
    ::testing::Values(TSwitchCase{"Dash", {"-debug"}, true}, TSwitchCase{"SlashUpper", {"/DEBUG"}, true},
                      TSwitchCase{"SlashMixed", {"/Debug"}, true}, TSwitchCase{"Bare", {"DEBUG"}, false},
                      TSwitchCase{"DoubleDash", {"--debug"}, false}, TSwitchCase{"Empty", {""}, false},
                      TSwitchCase{"LoneDash", {"-"}, false},
                      TSwitchCase{"Later", {"-silent", "-debug"}, true}),
    [](const auto& row) { return std::string(row.param.Label); });

TEST(SwitchesTest, EverySwitchIsFoundAnywhere) {
  TSwitches s = ParseSwitches({"/install", "-UNINSTALL", "-Silent", "/TestMail"});
  EXPECT_TRUE(s.Install);
  EXPECT_TRUE(s.Uninstall);
  EXPECT_TRUE(s.Silent);
  EXPECT_TRUE(s.TestMail);
  EXPECT_FALSE(s.Debug);
}

// The switches a newcomer tries first, and the file of -check, which may itself start with "/".
TEST(SwitchesTest, HelpVersionAndCheckTakeTheirSpellingsAndFile) {
  struct TCase {
    const char* Label;
    std::vector<std::string> Arguments;
    bool Help, Version, Check;
    std::string CheckFile;
  };
  const TCase cases[] = {
      {"help", {"-help"}, true, false, false, ""},
      {"long help", {"--help"}, true, false, false, ""},
      {"short help", {"-H"}, true, false, false, ""},
      {"question mark", {"/?"}, true, false, false, ""},
      {"bare help", {"help"}, false, false, false, ""},
      {"version", {"/Version"}, false, true, false, ""},
      {"long version", {"--version"}, false, true, false, ""},
      {"check", {"-check"}, false, false, true, ""},
      {"check an absolute file",
       {"/CHECK", "/etc/duzezevovivo/config.xml"},
       false,
       false,
       true,
       "/etc/duzezevovivo/config.xml"},
      {"check a relative file", {"-debug", "-check", "config.xml"}, false, false, true, "config.xml"},
      {"check before a switch", {"-check", "--help"}, true, false, true, ""},
      {"file before check", {"config.xml", "-check"}, false, false, true, ""},
  };
  for (const TCase& c : cases) {
    const TSwitches s = ParseSwitches(c.Arguments);
    EXPECT_EQ(s.Help, c.Help) << c.Label;
    EXPECT_EQ(s.Version, c.Version) << c.Label;
    EXPECT_EQ(s.Check, c.Check) << c.Label;
    EXPECT_EQ(s.CheckFile, c.CheckFile) << c.Label;
  }
}

}  // namespace
}  // namespace duz
