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
    [](const auto& info) { return std::string(info.param.Label); });

TEST(SwitchesTest, EverySwitchIsFoundAnywhere) {
  TSwitches s = ParseSwitches({"/install", "-UNINSTALL", "-Silent", "/TestMail"});
  EXPECT_TRUE(s.Install);
  EXPECT_TRUE(s.Uninstall);
  EXPECT_TRUE(s.Silent);
  EXPECT_TRUE(s.TestMail);
  EXPECT_FALSE(s.Debug);
}

}  // namespace
}  // namespace duz
