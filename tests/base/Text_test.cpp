#include "base/Text.h"

#include <gtest/gtest.h>

namespace duz {
namespace {

TEST(NoCaseTest, OnlyAsciiLettersFoldWhateverTheLocale) {
  struct TRow {
    const char* Label;
    std::string_view A, B;
    bool Equal;
  } rows[] = {
      {"letters fold", "HexValue", "hEXvALUE", true},
      {"lengths differ", "hex", "hex(2)", false},
      {"no folding beyond ASCII", "\xc3\xa9", "\xc3\x89", false},
      {"neighbours of the letter ranges stay", "@[`{", "`{@[", false},
  };
  for (const auto& row : rows) EXPECT_EQ(EqualsNoCase(row.A, row.B), row.Equal) << row.Label;
  EXPECT_TRUE(StartsWithNoCase("DWORD:0000", "dword:"));
  EXPECT_FALSE(StartsWithNoCase("dw", "dword:"));
}

TEST(EscapeForLogTest, UnprintableRunsAreGroupedInHex) {
  struct TRow {
    std::string Bytes, Expected;
  } rows[] = {
      {"", ""},           {"A\r\nB", "A{$0D,$0A}B"},
      {"~", "{$7E}"},     {"z", "z"},
      {"!", "!"},         {"+023.5C\r", "+023.5C{$0D}"},
      {"a b", "a{$20}b"}, {std::string("\0\x7f\x80\xff{|}", 7), "{$00,$7F,$80,$FF,$7B,$7C,$7D}"},
  };
  for (const auto& row : rows) EXPECT_EQ(EscapeForLog(row.Bytes), row.Expected) << row.Expected;
}

TEST(NormalizeDecimalSeparatorTest, BothMarksBecomeTheGivenSeparator) {
  struct TRow {
    char Separator;
    std::string Text, Expected;
  } rows[] = {
      {'.', "-12,5", "-12.5"},     {'.', "-12.5", "-12.5"},  {',', "-12.5", "-12,5"},
      {',', "1.234,5", "1,234,5"}, {'\'', "1.5,2", "1.5,2"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(NormalizeDecimalSeparator(row.Text, row.Separator), row.Expected)
        << row.Separator << " " << row.Text;
  }
}

}  // namespace
}  // namespace duz
