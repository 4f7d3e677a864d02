#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>

namespace duz::fuzz {

void Fail(const char* check, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: check failed: %s\n", file, line, check);
  std::abort();
}

}  // namespace duz::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  duz::fuzz::FuzzOneInput(input);
  return 0;
}
