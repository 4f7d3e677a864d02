#pragma once
// TKelvoLineSplitter: cuts the bytes a thermometer sends into lines, each ending in a carriage
// return, with a bound on the bytes kept while no carriage return comes. Pure: no device, no
// clock. Not thread-safe; the subservice uses it on its owner thread only.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace duz {

class TKelvoLineSplitter {
 public:
  // Bytes kept after the last carriage return; beyond it they are discarded, as a device that
  // never sends one would otherwise grow the buffer for ever.
  static constexpr size_t MaxRxBuffer = 4096;

  // Keeps the bytes; returns how many were discarded at the bound (0 almost always).
  size_t Append(std::string_view bytes);
  // The oldest complete line with its carriage return, taken out of the buffer before the caller
  // handles it, so that a handler that raises does not see it again; nothing when none is complete.
  std::optional<std::string> NextLine();
  // Bytes waiting: complete lines not yet taken and the start of the next line.
  size_t Pending() const { return FBuffer.size(); }

 private:
  std::string FBuffer;
};

}  // namespace duz
