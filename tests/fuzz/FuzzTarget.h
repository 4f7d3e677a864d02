#pragma once
// One fuzz target: it defines FuzzOneInput, which runs its properties on one input; FuzzTarget.cpp
// hands it every input libFuzzer makes. A failed property check prints what failed and aborts, so
// that libFuzzer keeps the input as a crash.
#include <fuzzer/FuzzedDataProvider.h>

namespace duz::fuzz {

void FuzzOneInput(FuzzedDataProvider& input);

[[noreturn]] void Fail(const char* check, const char* file, int line);

}  // namespace duz::fuzz

#define FUZZ_CHECK(condition)                                            \
  do {                                                                   \
    if (!(condition)) ::duz::fuzz::Fail(#condition, __FILE__, __LINE__); \
  } while (false)
