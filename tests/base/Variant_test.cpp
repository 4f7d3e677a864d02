#include "base/Variant.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>

#include "base/Exception.h"
#include "base/RegionalSettings.h"

namespace duz {
namespace {

class VariantTest : public testing::Test {
 protected:
  void TearDown() override { SetRegionalSettings(FSaved); }
  static void UseDecimalComma() {
    TRegionalSettings settings = RegionalSettings();
    settings.DecimalSeparator = ',';
    SetRegionalSettings(settings);
  }

 private:
  TRegionalSettings FSaved = RegionalSettings();
};

template <class F>
std::string ErrorOf(F convert) {
  try {
    convert();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "no error";
}

TEST_F(VariantTest, TextConvertsToWholeNumbers) {
  struct Row {
    const char* Text;
    int64_t Expected;
  } rows[] = {{"10", 10},
              {" -3 ", -3},
              {"+7", 7},
              {"$1F", 31},
              {"-$10", -16},
              {"0", 0},
              {"9223372036854775807", INT64_MAX},
              {"-9223372036854775808", INT64_MIN}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Text);
    EXPECT_EQ(TVariant(row.Text).ToInt(), row.Expected);
  }
}

TEST_F(VariantTest, BadWholeNumbersRaiseAConvertErrorNamingTheText) {
  for (const char* text : {"", "abc", "1.5", "12x", "$", "--1", "1 2", "9223372036854775808", "$G"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorOf([&] { TVariant(text).ToInt(); }),
              "'" + std::string(text) + "' is not a valid integer value");
  }
}

TEST_F(VariantTest, RealsRoundToWholeNumbersHalvesToEven) {
  EXPECT_EQ(TVariant(2.5).ToInt(), 2);
  EXPECT_EQ(TVariant(3.5).ToInt(), 4);
  EXPECT_EQ(TVariant(-2.6).ToInt(), -3);
  EXPECT_THROW(TVariant(1e30).ToInt(), EConvertError);
  EXPECT_EQ(TVariant().ToInt(), 0);
  EXPECT_EQ(TVariant(true).ToInt(), 1);
}

TEST_F(VariantTest, RealsReadTheRegionalDecimalSeparatorAndThePoint) {
  EXPECT_DOUBLE_EQ(TVariant("-12.5").ToDouble(), -12.5);
  EXPECT_DOUBLE_EQ(TVariant(" 1.5e3 ").ToDouble(), 1500);
  EXPECT_DOUBLE_EQ(TVariant("2E-2").ToDouble(), 0.02);
  EXPECT_DOUBLE_EQ(TVariant(".5").ToDouble(), 0.5);
  EXPECT_DOUBLE_EQ(TVariant(7).ToDouble(), 7);
  EXPECT_EQ(ErrorOf([] { TVariant("12,5").ToDouble(); }), "'12,5' is not a valid floating point value");
  UseDecimalComma();
  EXPECT_DOUBLE_EQ(TVariant("-12,5").ToDouble(), -12.5);
  EXPECT_DOUBLE_EQ(TVariant("37.5").ToDouble(), 37.5) << "XML files are written with points";
  EXPECT_EQ(ErrorOf([] { TVariant("1.234,5").ToDouble(); }), "'1.234,5' is not a valid floating point value");
}

TEST_F(VariantTest, TextThatIsNoRealRaisesAConvertError) {
  // Beyond the double range either way is no number, not infinity or a silent zero.
  for (const char* text :
       {"", "inf", "nan", "-", "1e", "1e999", "1e-999", "0x10", "1..2", "1.2.3", "e5", "$10"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorOf([&] { TVariant(text).ToDouble(); }),
              "'" + std::string(text) + "' is not a valid floating point value");
  }
}

TEST_F(VariantTest, BooleansReadTrueFalseInAnyCaseOrANumber) {
  struct Row {
    const char* Text;
    bool Expected;
  } rows[] = {{"true", true}, {"TRUE", true}, {"False", false}, {" false ", false}, {"1", true},
              {"0", false},   {"-1", true},   {"0.0", false},   {"0.5", true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Text);
    EXPECT_EQ(TVariant(row.Text).ToBool(), row.Expected);
  }
  EXPECT_EQ(ErrorOf([] { TVariant("yes").ToBool(); }), "'yes' is not a valid boolean value");
  EXPECT_EQ(ErrorOf([] { TVariant("").ToBool(); }), "'' is not a valid boolean value");
  EXPECT_FALSE(TVariant().ToBool());
}

TEST_F(VariantTest, ToStringWritesNumbersInTheRegionalSettings) {
  EXPECT_EQ(TVariant(10).ToString(), "10");
  EXPECT_EQ(TVariant(2.5).ToString(), "2.5");
  EXPECT_EQ(TVariant(0.1).ToString(), "0.1");
  EXPECT_EQ(TVariant(1e20).ToString(), "1E20");
  EXPECT_EQ(TVariant(1.5e-7).ToString(), "1.5E-7");
  EXPECT_EQ(TVariant(true).ToString(), "True");
  EXPECT_EQ(TVariant().ToString(), "");
  UseDecimalComma();
  EXPECT_EQ(TVariant(-2.5).ToString(), "-2,5");
  EXPECT_DOUBLE_EQ(TVariant(TVariant(0.1).ToString()).ToDouble(), 0.1);
}

// Found by fuzzing: 15 digits of the largest reals round past the largest double.
TEST_F(VariantTest, RealsWrittenAsTextReadBack) {
  const struct {
    const char* Label;
    double Value;
    const char* Text;
  } rows[] = {
      {"Largest", DBL_MAX, "1.7976931348623157E308"},
      {"MinusLargest", -DBL_MAX, "-1.7976931348623157E308"},
      {"FifteenDigitsSuffice", 1.5e308, "1.5E308"},
      {"Smallest", DBL_TRUE_MIN, "4.94065645841247E-324"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(TVariant(row.Value).ToString(), row.Text) << row.Label;
    EXPECT_EQ(TVariant(row.Text).ToDouble(), row.Value) << row.Label;
  }
  EXPECT_EQ(TVariant(std::nan("")).ToString(), "NAN");
  EXPECT_EQ(TVariant(-HUGE_VAL).ToString(), "-INF");
}

TEST_F(VariantTest, NullConvertsToNothing) {
  TVariant null{TVariant::Null{}};
  EXPECT_EQ(ErrorOf([&] { null.ToInt(); }), "Could not convert variant of type (Null) into type (Integer)");
  EXPECT_THROW(null.ToDouble(), EConvertError);
  EXPECT_THROW(null.ToBool(), EConvertError);
  EXPECT_THROW(null.ToString(), EConvertError);
}

}  // namespace
}  // namespace duz
