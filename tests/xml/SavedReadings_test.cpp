#include "xml/SavedReadings.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace duz {
namespace {

const TDateTime Today = EncodeDate(2026, 12, 7);

// "d hh:nn value", d being 0 for today and -1 for yesterday.
std::vector<std::string> Described(const std::vector<TSavedReading>& readings) {
  std::vector<std::string> result;
  for (const TSavedReading& reading : readings) {
    const TTimeParts time = DecodeTime(reading.Time);
    result.push_back(fmt::format("{} {:02}:{:02} {:.1f}", DateOf(reading.Time) - DateOf(Today), time.Hour,
                                 time.Minute, reading.Value));
  }
  return result;
}

struct TCase {
  const char* Label;
  const char* Xml;
  int Now;  // the minute of today
  std::vector<std::string> Expected;
  size_t NotFinite = 0;
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.Label; }

class SavedReadingsTest : public ::testing::TestWithParam<TCase> {};

TEST_P(SavedReadingsTest, ReadsWhatTheSaversWrote) {
  pugi::xml_document document;
  ASSERT_TRUE(document.load_string(GetParam().Xml));
  const TDateTime now = Today + GetParam().Now / MinutesPerDay;
  const TSavedReadings saved = ReadSavedReadings(document.document_element(), now);
  EXPECT_EQ(Described(saved.Readings), GetParam().Expected);
  EXPECT_EQ(saved.NotFinite, GetParam().NotFinite);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SavedReadingsTest,
    ::testing::Values(
        TCase{"AttributesAndAnySeparators",
              R"(<Kelvo caption="Room" date="14:00:00"><data time="13:58" value="20.5"/>)"
              R"(<data time="13.59" value="-3,1"/></Kelvo>)",
              14 * 60,
              {"0 13:58 20.5", "0 13:59 -3.1"}},
        TCase{"ChildElements",
              "<Kelvo><caption>Room</caption><data><time>13:59</time><value>21.0</value></data></Kelvo>",
              14 * 60,
              {"0 13:59 21.0"}},
        TCase{"ErrorsAndUnreadableEntriesAreSkipped",
              R"(<Kelvo><data time="13:50" error="Kelvo not connected"/><data time="25:00" value="1"/>)"
              R"(<data time="1359" value="1"/><data time="13:5" value="1"/><data time="13:57" value="abc"/>)"
              R"(<data time="13:58" value=""/><data time="13:59" value="22.0"/></Kelvo>)",
              14 * 60,
              {"0 13:59 22.0"}},
        TCase{"ValuesNoLineCanGiveAreSkipped",
              R"(<Kelvo><data time="13:55" value="nan"/><data time="13:56" value="-inf"/>)"
              R"(<data time="13:57" value="1e39"/><data time="13:58" value="3.4e38"/></Kelvo>)",
              14 * 60,
              {"0 13:58 339999995214436424907732413799364296704.0"},
              3},
        TCase{
            "MidnightCrossed",
            R"(<Kelvo><data time="23:59" value="1"/><data time="00:00" value="2"/><data time="00:01" value="3"/></Kelvo>)",
            0 * 60 + 5,
            {"-1 23:59 1.0", "0 00:00 2.0", "0 00:01 3.0"}},
        TCase{"ALastEntryAfterNowIsYesterdays",
              R"(<Kelvo><data time="14:30" value="1"/></Kelvo>)",
              14 * 60,
              {"-1 14:30 1.0"}},
        TCase{
            "ADayOrMoreAgoIsLeftOut",
            R"(<Kelvo><data time="14:00" value="1"/><data time="14:01" value="2"/><data time="10:00" value="3"/></Kelvo>)",
            14 * 60,
            {"-1 14:01 2.0", "0 10:00 3.0"}}),
    [](const auto& row) { return std::string(row.param.Label); });

}  // namespace
}  // namespace duz
