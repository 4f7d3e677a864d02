#pragma once
// The check of a configuration document against the platform's rules (config/ConfigRules.h) and
// against what the platform would meet running it: elements and attributes it does not read (a
// misspelt name silently does nothing), values that do not convert or lie out of range, addresses
// the mail client refuses, COM devices that do not exist, actions that can never act. Nothing is
// opened or started; the registry is read for the COM devices. Any thread.
#include <pugixml.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "config/ConfigFile.h"

namespace duz {

struct TConfigFinding {
  size_t Offset;  // in the text of the file
  bool Error;     // else a warning: the platform runs, but not as the file may mean
  std::string Text;
};

// The findings in document order. text is what the document was parsed from (with comments kept).
std::vector<TConfigFinding> CheckConfiguration(const pugi::xml_document& document, std::string_view text);

// A finding as -check prints it: "FILE(LINE,COL): error: text" or "FILE(LINE,COL): warning: text".
std::string FormatFinding(const std::string& file, TTextPosition at, bool error, const std::string& text);

}  // namespace duz
