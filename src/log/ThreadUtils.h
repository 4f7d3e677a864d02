#pragma once
#include <string>

namespace duz {

// Names the calling thread for debuggers and tools (at most 15 characters are kept).
void SetThreadName(const std::string& name);

}  // namespace duz
