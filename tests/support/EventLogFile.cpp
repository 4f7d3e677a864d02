#include "support/EventLogFile.h"

#include <sstream>

#include "support/TempDir.h"

namespace duz::test {

std::vector<TEventEntry> ReadEventLog(const std::string& path) {
  std::vector<TEventEntry> entries;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    for (std::string cell; fields.size() < 5 && std::getline(cells, cell, '\t');) fields.push_back(cell);
    std::string text;
    std::getline(cells, text);
    if (fields.size() < 5) continue;
    entries.push_back({fields[0], fields[1], static_cast<uint32_t>(std::stoul(fields[2])),
                       static_cast<uint32_t>(std::stoul(fields[3])), std::stoi(fields[4]), text});
  }
  return entries;
}

std::vector<std::string> EventTexts(const std::vector<TEventEntry>& entries, const std::string& source) {
  std::vector<std::string> texts;
  for (const TEventEntry& entry : entries)
    if (entry.Source == source) texts.push_back(entry.Text);
  return texts;
}

}  // namespace duz::test
