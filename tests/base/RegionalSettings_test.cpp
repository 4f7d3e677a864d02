#include "base/RegionalSettings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <thread>
#include <vector>

#include "base/FloatFormat.h"
#include "base/FormatDateTime.h"
#include "base/Variant.h"
#include "support/Locales.h"

namespace duz {
namespace {

TEST(RegionalSettings, StrftimeFormatsTranslateToOurSyntax) {
  struct Row {
    const char* Strftime;
    const char* Long;
    const char* Short;
  } rows[] = {
      {"%d.%m.%Y", "dd.mm.yyyy", "dd.mm.yyyy"},
      {"%m/%d/%y", "mm/dd/yy", "mm/dd/yy"},
      {"%Y-%m-%d", "yyyy-mm-dd", "yyyy-mm-dd"},
      {"%e. %B %Y", "d. mmmm yyyy", "d. mmmm yyyy"},
      {"%H:%M:%S", "hh:nn:ss", "hh:nn"},
      {"%I:%M:%S %p", "hh:nn:ss ampm", "hh:nn ampm"},
      {"%T", "hh:nn:ss", "hh:nn"},
      {"%H.%M.%S", "hh.nn.ss", "hh.nn"},
      {"%Hh%M", "hh\"h\"nn", "hh\"h\"nn"},
      {"%-d.%-m.%Y", "d.m.yyyy", "d.m.yyyy"},
      {"%-I:%M:%S %p", "h:nn:ss ampm", "h:nn ampm"},
      {"%_H:%0e %^a %#b %10d", "h:dd ddd mmm dd", "h:dd ddd mmm dd"},
      {"%OH:%EM it's", "hh:nn \"i\"\"t\"\"'\"\"s\"", "hh:nn \"i\"\"t\"\"'\"\"s\""},
      {"100%% %Z", "100% ", "100% "},
      {"trailing %", "\"t\"\"r\"\"a\"\"i\"\"l\"\"i\"\"n\"\"g\" %",
       "\"t\"\"r\"\"a\"\"i\"\"l\"\"i\"\"n\"\"g\" %"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Strftime);
    EXPECT_EQ(TranslateStrftime(row.Strftime), row.Long);
    EXPECT_EQ(TranslateStrftime(row.Strftime, false), row.Short);
  }
}

TEST(RegionalSettings, QuotedLiteralsFormatAsThemselves) {
  TRegionalSettings saved = RegionalSettings();
  SetRegionalSettings(TRegionalSettings{});
  TDateTime value = EncodeDate(2026, 12, 7) + EncodeTime(14, 5, 3, 0);
  EXPECT_EQ(FormatDateTime(TranslateStrftime("%Hh%Mm%Ss"), value), "14h05m03s");
  EXPECT_EQ(FormatDateTime(TranslateStrftime("%OH:%EM it's"), value), "14:05 it's");
  SetRegionalSettings(saved);
}

TEST(RegionalSettings, CLocaleGivesItsFormatsSeparatorsAndNames) {
  std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  TRegionalSettings settings = TRegionalSettings::FromLocale();
  std::setlocale(LC_ALL, previous.c_str());
  EXPECT_EQ(settings.DecimalSeparator, '.');
  EXPECT_EQ(settings.ShortDateFormat, "mm/dd/yy");
  EXPECT_EQ(settings.DateSeparator, '/');
  EXPECT_EQ(settings.LongTimeFormat, "hh:nn:ss");
  EXPECT_EQ(settings.ShortTimeFormat, "hh:nn");
  EXPECT_EQ(settings.TimeSeparator, ':');
  EXPECT_EQ(settings.TimeAMString, "AM");
  EXPECT_EQ(settings.LongMonthNames[11], "December");
  EXPECT_EQ(settings.ShortDayNames[0], "Sun");
}

TEST(RegionalSettings, CommaLocaleGivesItsSettingsAndNumbersIgnoreTheCLibrarysLocale) {
  test::TLocales locales({"cs_CZ"});
  const TRegionalSettings saved = RegionalSettings();
  {
    test::TScopedCLocale czech(locales, "cs_CZ");
    TRegionalSettings settings = TRegionalSettings::FromLocale();
    EXPECT_EQ(settings.DecimalSeparator, ',');
    EXPECT_EQ(settings.ShortDateFormat, "d.m.yyyy");
    SetRegionalSettings(settings);
    EXPECT_EQ(FormatDateTime("ddddd", EncodeDate(2026, 3, 7)), "7.3.2026");
    settings.DecimalSeparator = '.';  // as the registry may say
    SetRegionalSettings(settings);
    EXPECT_EQ(TVariant(2.5).ToString(), "2.5");
    EXPECT_DOUBLE_EQ(TVariant("23.5").ToDouble(), 23.5);
    EXPECT_EQ(FormatFixed(-12.5, 5, 1), "-12.5");
  }
  SetRegionalSettings(saved);
}

TEST(RegionalSettings, ReadersOnOtherThreadsSurviveAChangeOfSettings) {
  TRegionalSettings saved = RegionalSettings();
  TRegionalSettings comma = saved;
  comma.DecimalSeparator = ',';
  std::vector<std::thread> readers;
  for (int t = 0; t < 3; ++t)
    readers.emplace_back([] {
      for (int i = 0; i < 2000; ++i) {
        std::string text = FormatFixed(1.5, 0, 1);
        ASSERT_TRUE(text == "1.5" || text == "1,5") << text;
        ASSERT_FALSE(FormatDateTime("c", 46363.5).empty());
      }
    });
  for (int i = 0; i < 200; ++i) SetRegionalSettings(i % 2 ? comma : saved);
  for (std::thread& reader : readers) reader.join();
  SetRegionalSettings(saved);
  EXPECT_EQ(RegionalSettings().DecimalSeparator, saved.DecimalSeparator);
}

}  // namespace
}  // namespace duz
