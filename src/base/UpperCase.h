#pragma once
// Upper-casing as the configuration compares names and words: byte by byte, ASCII letters only,
// so that the result does not depend on the locale of the process.
#include <string>
#include <string_view>

namespace duz {

std::string UpperCase(std::string_view text);

}  // namespace duz
