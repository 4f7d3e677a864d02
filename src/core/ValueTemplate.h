#pragma once
// The value templates of the periodic actions: a text with %-delimited placeholders for the
// temperature (%VALUE%), the date and time (%DATETIME(format)%) and characters by code (%#13%,
// %#$0A%). Functions of the template, the values passed and the regional settings (RegionalSettings(),
// which write the temperature and the date); any thread.
#include <string>
#include <string_view>

#include "base/DateTime.h"

namespace duz {

// What the placeholders are replaced with: a reading and the moment of the expansion.
struct TTemplateValues {
  float Temperature = 0;
  bool Connected = false;
  TDateTime Time = 0;
};

// The result of a template whose placeholders cannot all be converted.
inline constexpr std::string_view TemplateError = "!chyba prevodu!";

// Expands text in place; false when a placeholder cannot be converted (the text is then partly
// expanded and must not be used).
bool ExpandPlaceholders(std::string& text, const TTemplateValues& values);
// The expanded template, or TemplateError when the expansion fails.
std::string ExpandValueTemplate(std::string_view templateText, const TTemplateValues& values);

}  // namespace duz
