#include "web/AllowList.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

struct TAllowCase {
  const char* Label;
  std::vector<std::string> Hosts;
  const char* Client;
  bool Allowed;
};

void PrintTo(const TAllowCase& c, std::ostream* os) { *os << c.Label; }

class AllowListTest : public ::testing::TestWithParam<TAllowCase> {};

TEST_P(AllowListTest, ServesOnlyListedAddresses) {
  EXPECT_EQ(IsAllowedClient(GetParam().Hosts, GetParam().Client), GetParam().Allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AllowListTest,
    ::testing::Values(TAllowCase{"NoEntriesServeEveryone", {}, "10.0.0.1", true},
                      TAllowCase{"TheClientsAddress", {"10.0.0.2", "10.0.0.1"}, "10.0.0.1", true},
                      TAllowCase{"AnotherAddress", {"10.0.0.2"}, "10.0.0.1", false},
                      TAllowCase{"IPv6WrittenAnotherWay", {"0:0::1"}, "::1", true},
                      TAllowCase{"APrefixIsNoAddress", {"10.0.0"}, "10.0.0.1", false},
                      TAllowCase{"ANameMatchesNoOneYet", {"localhost"}, "127.0.0.1", false},
                      TAllowCase{"AnEntryWithoutHost", {"~"}, "127.0.0.1", false},
                      TAllowCase{"AClientAddressThatIsNoAddress", {"10.0.0.1"}, "", false}),
    [](const auto& row) { return std::string(row.param.Label); });

}  // namespace
}  // namespace duz
