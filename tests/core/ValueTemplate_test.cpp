#include "core/ValueTemplate.h"

#include <gtest/gtest.h>

#include "core/IntervalFixture.h"

namespace duz {
namespace {

class ValueTemplateTest : public ::testing::Test {
 protected:
  ValueTemplateTest() { SetRegionalSettings(test::DottedDateSettings(',')); }
  ~ValueTemplateTest() override { SetRegionalSettings(FOld); }

  TRegionalSettings FOld = RegionalSettings();
  // 2026-12-07 14:07:09.
  TTemplateValues FConnected{23.45f, true, EncodeDate(2026, 12, 7) + EncodeTime(14, 7, 9, 0)};
};

TEST_F(ValueTemplateTest, PlaceholdersAndThePiecesBetweenThem) {
  const struct {
    const char* Label;
    const char* Template;
    const char* Expected;
  } rows[] = {
      {"NoPercentUnchanged", "plain text", "plain text"},
      {"LonePercentDropped", "100%", "100"},
      {"EmptyPlaceholder", "%%", ""},
      {"TextAroundPlaceholders", "T=%VALUE%;%DATETIME(hh:nn)%", "T= 23,5;14:07"},
      {"ValueIgnoresCase", "%value%|%Value%", " 23,5| 23,5"},
      {"UnknownNameCopied", "%VALUEX%", "VALUEX"},
      {"PieceBetweenPlaceholdersIsACandidate", "%VALUE%#65%VALUE%", " 23,5A 23,5"},
      {"DecimalCode", "a%#13%%#10%b", "a\r\nb"},
      {"HexCode", "%#$41%", "A"},
      {"CodeKeepsLowEightBits", "%#321%", "A"},
      {"PercentByCode", "%#37%", "%"},
      {"DateTimeDefaultFormat", "%DATETIME%", "07.12.2026 14:07:09"},
      {"DateTimeWithoutClosingParenthesis", "%DATETIME(yyyy%", "07.12.2026 14:07:09"},
      {"DateTimeEmptyParentheses", "%DATETIME()%", "07.12.2026 14:07:09"},
      {"DateTimeIgnoresCase", "%datetime(YYYYMMDD)%", "20261207"},
      {"DateTimeTextAfterParenthesisDropped", "%DATETIME(hh)x%", "14"},
      {"TrailingPieceAfterLastPercentCopied", "%VALUE%#65", " 23,5#65"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ExpandValueTemplate(row.Template, FConnected), row.Expected) << row.Label;
}

TEST_F(ValueTemplateTest, UnconvertibleCodeSpoilsTheWholeResult) {
  for (const char* text : {"ok %#% ok", "%#x%", "%VALUE%%#12a%", "%#99999999999999999999%"})
    EXPECT_EQ(ExpandValueTemplate(text, FConnected), "!chyba prevodu!") << text;
}

TEST_F(ValueTemplateTest, FailedExpansionReportsFalse) {
  std::string text = "%#x%";
  EXPECT_FALSE(ExpandPlaceholders(text, FConnected));
  text = "%#65%";
  EXPECT_TRUE(ExpandPlaceholders(text, FConnected));
  EXPECT_EQ(text, "A");
}

TEST_F(ValueTemplateTest, ValueIsRoundedHalfAwayFromZeroAndErrWhenNotConnected) {
  const struct {
    float Temperature;
    bool Connected;
    const char* Expected;
  } rows[] = {
      {21.25f, true, " 21,3"}, {-21.25f, true, "-21,3"}, {-12.3f, true, "-12,3"},
      {105.0f, true, "105,0"}, {23.45f, false, "Err"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(ExpandValueTemplate("%VALUE%", {row.Temperature, row.Connected, FConnected.Time}), row.Expected)
        << row.Temperature << (row.Connected ? " connected" : " not connected");
}

TEST_F(ValueTemplateTest, DefaultDateTimeLeavesTheTimeOutAtMidnight) {
  EXPECT_EQ(ExpandValueTemplate("%DATETIME%", {0, false, EncodeDate(2026, 12, 7)}), "07.12.2026");
}

}  // namespace
}  // namespace duz
