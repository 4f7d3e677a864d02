// The line splitter on bytes in random deliveries: every byte comes out once, in order, as part of
// a line ending in its only carriage return, or is kept, or is counted as discarded at the bound,
// which the kept tail never exceeds.
#include <string>

#include "core/KelvoLineSplitter.h"
#include "fuzz/FuzzTarget.h"

void duz::fuzz::FuzzOneInput(FuzzedDataProvider& input) {
  duz::TKelvoLineSplitter splitter;
  std::string sent, received;
  while (input.remaining_bytes() > 0) {
    const std::string chunk = input.ConsumeRandomLengthString(8192);
    if (chunk.empty() && input.remaining_bytes() == 0) break;
    sent += chunk;
    const size_t lost = splitter.Append(chunk);
    FUZZ_CHECK(lost == 0 || lost > duz::TKelvoLineSplitter::MaxRxBuffer);
    // What was discarded is the end of what was sent; it never comes out.
    if (lost) sent.erase(sent.size() - lost);
    while (std::optional<std::string> line = splitter.NextLine()) {
      FUZZ_CHECK(!line->empty() && line->back() == '\r');
      FUZZ_CHECK(line->find('\r') == line->size() - 1);
      received += *line;
    }
    FUZZ_CHECK(splitter.Pending() <= duz::TKelvoLineSplitter::MaxRxBuffer);
  }
  FUZZ_CHECK(sent.size() == received.size() + splitter.Pending());
  FUZZ_CHECK(sent.compare(0, received.size(), received) == 0);
}
