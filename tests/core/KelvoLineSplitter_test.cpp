#include "core/KelvoLineSplitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace duz {
namespace {

std::vector<std::string> Drain(TKelvoLineSplitter& splitter) {
  std::vector<std::string> lines;
  while (std::optional<std::string> line = splitter.NextLine()) lines.push_back(*line);
  return lines;
}

TEST(KelvoLineSplitterTest, EveryCutOfTheStreamGivesTheSameLines) {
  const std::string stream = "*B1E1+021.0C\r\r-003.1C\rERR\n\r*B1E1+022.5C\r+1";
  const std::vector<std::string> expected{"*B1E1+021.0C\r", "\r", "-003.1C\r", "ERR\n\r", "*B1E1+022.5C\r"};
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    TKelvoLineSplitter splitter;
    splitter.Append(stream.substr(0, cut));
    std::vector<std::string> lines = Drain(splitter);
    splitter.Append(stream.substr(cut));
    for (std::string& line : Drain(splitter)) lines.push_back(std::move(line));
    EXPECT_EQ(lines, expected) << "cut at " << cut;
    EXPECT_EQ(splitter.Pending(), 2u) << "the unfinished \"+1\" waits; cut at " << cut;
  }
}

TEST(KelvoLineSplitterTest, BytesWithoutLineEndBeyondTheBoundAreDiscardedButNotCompleteLines) {
  struct TRow {
    const char* Label;
    std::vector<std::string> Chunks;
    size_t Discarded;
    std::vector<std::string> Lines;
  } rows[] = {
      {"at the bound is kept",
       {std::string(TKelvoLineSplitter::MaxRxBuffer, '7'), "\r"},
       0,
       {std::string(TKelvoLineSplitter::MaxRxBuffer, '7') + "\r"}},
      {"one beyond goes, the next line comes",
       {std::string(TKelvoLineSplitter::MaxRxBuffer, '7'), "8", "+1.5C\r"},
       4097,
       {"+1.5C\r"}},
      {"a long line that ends in the same delivery is a line",
       {std::string(5000, '7') + "\r"},
       0,
       {std::string(5000, '7') + "\r"}},
      {"lines before the overlong tail stay",
       {"+1C\r+2C\r" + std::string(4100, 'x')},
       4100,
       {"+1C\r", "+2C\r"}},
  };
  for (const auto& row : rows) {
    TKelvoLineSplitter splitter;
    size_t discarded = 0;
    for (const std::string& chunk : row.Chunks) discarded += splitter.Append(chunk);
    EXPECT_EQ(discarded, row.Discarded) << row.Label;
    EXPECT_EQ(Drain(splitter), row.Lines) << row.Label;
  }
}

}  // namespace
}  // namespace duz
