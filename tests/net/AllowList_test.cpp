#include "net/AllowList.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

struct TAllowCase {
  const char* Label;
  std::vector<std::string> Hosts;
  const char* Client;
  const char* VerifiedName;  // what THostNameResolver found: "" for no confirmed name
  bool Allowed;
};

void PrintTo(const TAllowCase& c, std::ostream* os) { *os << c.Label; }

class AllowListTest : public ::testing::TestWithParam<TAllowCase> {};

// The one list of the TCP data server and the metrics server: an entry means the same on both.
TEST_P(AllowListTest, ServesListedAddressesAndConfirmedNamesOnly) {
  const TAllowList list(GetParam().Hosts);
  const TIpAddress client = ParseIpAddress(GetParam().Client).value();
  EXPECT_EQ(list.AllowsEveryone() || list.AllowsAddress(client) || list.AllowsName(GetParam().VerifiedName),
            GetParam().Allowed);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AllowListTest,
    ::testing::Values(TAllowCase{"NoEntriesServeEveryone", {}, "10.0.0.1", "", true},
                      TAllowCase{"TheClientsAddress", {"10.0.0.2", "10.0.0.1"}, "10.0.0.1", "", true},
                      TAllowCase{"AnotherAddress", {"10.0.0.2"}, "10.0.0.1", "", false},
                      TAllowCase{"IPv6WrittenAnotherWay", {"0:0::1"}, "::1", "", true},
                      TAllowCase{"MappedEntryIsTheIPv4Address", {"::ffff:10.0.0.1"}, "10.0.0.1", "", true},
                      TAllowCase{"MappedClientIsTheIPv4Address", {"10.0.0.1"}, "::ffff:10.0.0.1", "", true},
                      TAllowCase{"ConfirmedNameInAnyCase", {"Ops.Example"}, "10.0.0.1", "ops.EXAMPLE", true},
                      TAllowCase{"NameNotConfirmed", {"ops.example"}, "10.0.0.1", "", false},
                      TAllowCase{"AnotherName", {"ops.example"}, "10.0.0.1", "web.example", false},
                      TAllowCase{"AddressEntryIsNoName", {"10.0.0.9"}, "10.0.0.1", "10.0.0.9", false},
                      TAllowCase{"APrefixIsAName", {"10.0.0"}, "10.0.0.1", "", false},
                      TAllowCase{"AnEntryWithoutHost", {"~"}, "10.0.0.1", "~", false},
                      TAllowCase{"AnEmptyHost", {""}, "10.0.0.1", "", false}),
    [](const auto& row) { return std::string(row.param.Label); });

TEST(AllowListTest, EntriesThatCanNeverMatchAnIPv4ClientAreNamed) {
  for (const char* never : {"~", "", "::1", "fe80::1"}) EXPECT_TRUE(TAllowList::NeverMatches(never)) << never;
  for (const char* may : {"10.0.0.1", "::ffff:10.0.0.1", "ops.example"})
    EXPECT_FALSE(TAllowList::NeverMatches(may)) << may;
}

}  // namespace
}  // namespace duz
