#include "base/FormatDateTime.h"

#include <gtest/gtest.h>

#include "base/RegionalSettings.h"

namespace duz {
namespace {

class FormatDateTimeTest : public testing::Test {
 protected:
  void SetUp() override {
    TRegionalSettings settings;
    settings.DateSeparator = '.';
    settings.ShortDateFormat = "dd/mm/yyyy";
    settings.LongDateFormat = "d. mmmm yyyy";
    settings.ShortTimeFormat = "h:nn";
    settings.LongTimeFormat = "hh:nn:ss";
    SetRegionalSettings(settings);
  }
  void TearDown() override { SetRegionalSettings(FSaved); }

  static TDateTime At(int hour, int minute, int second = 0, int ms = 0) {
    return EncodeDate(2026, 12, 7) + EncodeTime(hour, minute, second, ms);  // a Monday
  }

 private:
  TRegionalSettings FSaved = RegionalSettings();
};

TEST_F(FormatDateTimeTest, FormatsEverySpecifier) {
  struct Row {
    const char* Format;
    TDateTime Value;
    const char* Expected;
  } rows[] = {
      {"yyyy-mm-dd hh_nn_ss_zzz", At(14, 5, 3, 45), "2026-12-07 14_05_03_045"},
      {"HH:NN:SS.zzz", At(4, 5, 3, 7), "04:05:03.007"},
      {"[yyyy-MM-dd hh:mm:ss]", At(22, 5, 52), "[2026-12-07 22:05:52]"},
      {"YYYYMMDD", At(14, 5), "20261207"},
      {"d/m/yy y", At(14, 5), "7.12.26 26"},
      {"h:n:s.z", At(4, 5, 3, 45), "4:5:3.45"},
      {"ddd dddd", At(14, 5), "Mon Monday"},
      {"mmm mmmm", At(14, 5), "Dec December"},
      {"ddddd|dddddd", At(14, 5), "07.12.2026|7. December 2026"},
      {"t|tt", At(14, 5, 3), "14:05|14:05:03"},
      {"e ee [g] [gg]", At(14, 5), "2026 2026 [] []"},
      {"hhh nnn sss zz", At(4, 5, 3, 45), "04 05 03 045"},
      {"hh:nn am/pm", At(14, 5), "02:05 pm"},
      {"hh:nn AM/PM", At(9, 5), "09:05 AM"},
      {"h a/p", At(0, 30), "12 a"},
      {"h A/P", At(12, 0), "12 P"},
      {"h ampm", At(14, 5), "2 PM"},
      {"hh 'am/pm'", At(14, 5), "14 am/pm"},
      {"hh hh am/pm", At(14, 5), "14 02 pm"},
      {"'hh:nn' \"dd\" 'it''s'", At(14, 5), "hh:nn dd its"},
      {"hh 'unclosed", At(14, 5), "14 unclosed"},
      {"x#%,_ ()", At(14, 5), "x#%,_ ()"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Format);
    EXPECT_EQ(FormatDateTime(row.Format, row.Value), row.Expected);
  }
}

TEST_F(FormatDateTimeTest, MonthAfterAnHourIsTheMinute) {
  struct Row {
    const char* Format;
    const char* Expected;
  } rows[] = {{"hh:mm", "14:05"},       {"hh mm", "14 05"}, {"h:mm:ss mm", "14:05:03 12"},
              {"dd.mm hh", "07.12 14"}, {"hhmmm", "1405"},  {"hh:nn mm", "14:05 12"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Format);
    EXPECT_EQ(FormatDateTime(row.Format, At(14, 5, 3)), row.Expected);
  }
}

TEST_F(FormatDateTimeTest, SeparatorsComeFromTheRegionalSettings) {
  TRegionalSettings settings = RegionalSettings();
  settings.DateSeparator = '-';
  settings.TimeSeparator = '.';
  SetRegionalSettings(settings);
  EXPECT_EQ(FormatDateTime("dd/mm hh:nn", At(14, 5)), "07-12 14.05");
}

TEST_F(FormatDateTimeTest, DefaultFormatLeavesTheTimeOutOnlyAtExactlyMidnight) {
  EXPECT_EQ(FormatDateTime("", At(14, 5, 3)), "07.12.2026 14:05:03");
  EXPECT_EQ(FormatDateTime("c", At(0, 0)), "07.12.2026");
  EXPECT_EQ(FormatDateTime("", At(0, 0, 0, 1)), "07.12.2026 00:00:00");
}

TEST_F(FormatDateTimeTest, RegionalFormatNamingItselfDoesNotRecurseForever) {
  TRegionalSettings settings = RegionalSettings();
  settings.ShortDateFormat = "ddddd c";
  SetRegionalSettings(settings);
  EXPECT_FALSE(FormatDateTime("c", At(0, 0)).empty());
}

}  // namespace
}  // namespace duz
