#include "base/FloatFormat.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/RegionalSettings.h"

namespace duz {
namespace {

TEST(FloatFormat, RoundsHalvesAwayFromZeroAfterEighteenDigits) {
  struct Row {
    const char* Label;
    double Value;
    int Width, Decimals;
    const char* Expected;
  } rows[] = {
      {"float 21.25 lies below the half", 21.25f, 5, 1, " 21.3"},
      {"negative float half", -21.25f, 5, 1, "-21.3"},
      {"23.45 float", 23.45f, 5, 1, " 23.5"},
      {"negative, width reached", -12.3f, 5, 1, "-12.3"},
      {"whole number", 105, 5, 1, "105.0"},
      {"wider than width", -1234.56, 5, 1, "-1234.6"},
      {"carry through nines", 99.96, 5, 1, "100.0"},
      {"carry into a new digit", 9.96, 1, 1, "10.0"},
      {"double 9.95 lies below the half at 18 digits", 9.95, 1, 1, "9.9"},
      {"below one", 0.05, 5, 1, "  0.1"},
      {"small, no rounding up", 0.04, 5, 1, "  0.0"},
      {"negative rounding to zero has no sign", -0.04, 5, 1, "  0.0"},
      {"far below the kept decimal", 1e-30, 1, 2, "0.00"},
      {"zero", 0.0, 5, 1, "  0.0"},
      {"exact half, two decimals", 2.625, 2, 2, "2.63"},
      {"no decimals, no separator", -2.5, 0, 0, "-3"},
      {"large", 1e20, 0, 1, "100000000000000000000.0"},
      {"not a number", std::nan(""), 5, 1, "  NAN"},
      {"infinity", -HUGE_VAL, 0, 1, "-INF"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Label);
    EXPECT_EQ(FormatFixed(row.Value, row.Width, row.Decimals), row.Expected);
  }
}

TEST(FloatFormat, TemperatureUsesTheRegionalDecimalSeparator) {
  TRegionalSettings saved = RegionalSettings();
  TRegionalSettings comma = saved;
  comma.DecimalSeparator = ',';
  SetRegionalSettings(comma);
  EXPECT_EQ(FormatTemperature(23.45f), " 23,5");
  SetRegionalSettings(saved);
  EXPECT_EQ(FormatTemperature(-5.0f), " -5.0");
}

}  // namespace
}  // namespace duz
