// The variant conversions: any text converts or raises EConvertError, nothing else; numbers
// written as text read back as the same number under either decimal separator.
#include <cmath>
#include <optional>
#include <string>

#include "base/Exception.h"
#include "base/RegionalSettings.h"
#include "base/Variant.h"
#include "fuzz/FuzzTarget.h"

namespace duz {
namespace {

template <typename TFunction>
auto Converted(TFunction convert) -> std::optional<decltype(convert())> {
  try {
    return convert();
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

void CheckText(const std::string& text) {
  const TVariant variant(text);
  const auto whole = Converted([&] { return variant.ToInt(); });
  const auto real = Converted([&] { return variant.ToDouble(); });
  const auto truth = Converted([&] { return variant.ToBool(); });
  FUZZ_CHECK(variant.ToString() == text);
  if (whole) FUZZ_CHECK(truth && *truth == (*whole != 0));
  if (real) FUZZ_CHECK(truth);
}

void CheckNumbers(int64_t whole, double real) {
  FUZZ_CHECK(TVariant(TVariant(whole).ToString()).ToInt() == whole);
  const auto rounded = Converted([&] { return TVariant(real).ToInt(); });
  FUZZ_CHECK(rounded.has_value() == (std::fabs(real) < 0x1p63 || real == -0x1p63));
  if (!std::isfinite(real)) return;
  const double back = TVariant(TVariant(real).ToString()).ToDouble();
  FUZZ_CHECK(std::fabs(back - real) <= 1e-14 * std::fabs(real));
}

}  // namespace
}  // namespace duz

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) {
  duz::TRegionalSettings settings;
  settings.DecimalSeparator = input.ConsumeBool() ? ',' : '.';
  duz::SetRegionalSettings(settings);
  duz::CheckNumbers(input.ConsumeIntegral<int64_t>(), input.ConsumeFloatingPoint<double>());
  duz::CheckText(input.ConsumeRemainingBytesAsString());
}
