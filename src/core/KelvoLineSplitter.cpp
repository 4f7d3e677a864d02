#include "core/KelvoLineSplitter.h"

namespace duz {

size_t TKelvoLineSplitter::Append(std::string_view bytes) {
  FBuffer += bytes;
  const size_t lastCr = FBuffer.rfind('\r');
  const size_t tailStart = lastCr == std::string::npos ? 0 : lastCr + 1;
  const size_t tail = FBuffer.size() - tailStart;
  if (tail <= MaxRxBuffer) return 0;
  FBuffer.erase(tailStart);
  return tail;
}

std::optional<std::string> TKelvoLineSplitter::NextLine() {
  const size_t cr = FBuffer.find('\r');
  if (cr == std::string::npos) return std::nullopt;
  std::string line = FBuffer.substr(0, cr + 1);
  FBuffer.erase(0, cr + 1);
  return line;
}

}  // namespace duz
