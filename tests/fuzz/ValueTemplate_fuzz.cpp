// The value templates: any template with any reading and any time expands or gives the error text,
// a text without placeholders stays as it is, and a lost thermometer never shows a number.
#include <string>

#include "core/ValueTemplate.h"
#include "fuzz/FuzzTarget.h"

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) {
  duz::TTemplateValues values;
  values.Temperature = input.ConsumeFloatingPoint<float>();
  values.Connected = input.ConsumeBool();
  values.Time = input.ConsumeBool() ? input.ConsumeFloatingPoint<double>()
                                    : input.ConsumeFloatingPointInRange<double>(-700000, 3000000);
  const std::string text = input.ConsumeRemainingBytesAsString();

  const std::string result = duz::ExpandValueTemplate(text, values);
  if (text.find('%') == std::string::npos) FUZZ_CHECK(result == text);
  if (!values.Connected) {
    const std::string lost = duz::ExpandValueTemplate("%VALUE%" + text, values);
    FUZZ_CHECK(lost.starts_with("Err") || lost == duz::TemplateError);
  }
}
