#include "core/KelvoLine.h"

#include <gtest/gtest.h>

#include "support/Locales.h"

namespace duz {
namespace {

struct TLineCase {
  const char* Label;
  const char* Line;
  char Separator;
  const char* Raw;
  std::optional<float> Value;
};

// Test names show the label, not the bytes of the case.
void PrintTo(const TLineCase& c, std::ostream* os) { *os << c.Label; }

class KelvoLineTest : public ::testing::TestWithParam<TLineCase> {};

TEST_P(KelvoLineTest, ParsesTheTemperatureAndKeepsThePublishedForm) {
  const TLineCase& c = GetParam();
  TKelvoReading reading = ParseKelvoLine(c.Line, c.Separator);
  EXPECT_EQ(reading.RawLine, c.Raw);
  ASSERT_EQ(reading.Value.has_value(), c.Value.has_value());
  if (c.Value) {
    EXPECT_FLOAT_EQ(*reading.Value, *c.Value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, KelvoLineTest,
    ::testing::Values(TLineCase{"PrefixRemoved", "*B1E1+025.3C\r", '.', "+025.3C\r", 25.3f},
                      TLineCase{"Negative", "-003.1C\r", '.', "-003.1C\r", -3.1f},
                      TLineCase{"CommaUnderDotLocale", "+25,3C\r", '.', "+25,3C\r", 25.3f},
                      TLineCase{"DotUnderCommaLocale", "+25.3C\r", ',', "+25.3C\r", 25.3f},
                      TLineCase{"NoSignKeepsFirstDigit", "25.3C\r", '.', "25.3C\r", 25.3f},
                      TLineCase{"BytesBeforeSignIgnored", "T=+21.0C\r", '.', "T=+21.0C\r", 21.0f},
                      TLineCase{"PrefixOnlyAtFirstByte", " *B1E1+1.0C\r", '.', " *B1E1+1.0C\r", 1.0f},
                      TLineCase{"NoUnitLetter", "+19.5\r", '.', "+19.5\r", 19.5f},
                      TLineCase{"LettersOnly", "ABCD\r", '.', "ABCD\r", std::nullopt},
                      TLineCase{"SignWithoutNumber", "+C\r", '.', "+C\r", std::nullopt},
                      TLineCase{"LoneCarriageReturn", "\r", '.', "\r", std::nullopt},
                      TLineCase{"PrefixAndCarriageReturnOnly", "*B1E1\r", '.', "\r", std::nullopt},
                      TLineCase{"TwoSeparators", "+1.2.3C\r", '.', "+1.2.3C\r", std::nullopt},
                      TLineCase{"Exponent", "+1.5E1C\r", '.', "+1.5E1C\r", 15.0f},
                      // Found by fuzzing: an infinite temperature counted as connected.
                      TLineCase{"BeyondFloatRange", "*B1E1+1e39C\r", '.', "+1e39C\r", std::nullopt},
                      TLineCase{"NegativeBeyondFloatRange", "-1e39C\r", '.', "-1e39C\r", std::nullopt},
                      TLineCase{"LargestFloat", "+3.40282e38C\r", '.', "+3.40282e38C\r", 3.40282e38f}),
    [](const auto& row) { return std::string(row.param.Label); });

TEST(KelvoLineLocaleTest, TemperatureKeepsItsDecimalsWhateverTheCLibrarysLocale) {
  test::TLocales locales({"cs_CZ"});
  test::TScopedCLocale czech(locales, "cs_CZ");
  for (char separator : {',', '.'}) {
    const std::optional<float> value = ParseKelvoLine("*B1E1+023.5C\r", separator).Value;
    ASSERT_TRUE(value) << separator;
    EXPECT_FLOAT_EQ(*value, 23.5f) << separator;
  }
}

}  // namespace
}  // namespace duz
