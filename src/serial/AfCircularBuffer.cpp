#include "serial/AfCircularBuffer.h"

#include <algorithm>
#include <cstring>

namespace duz {

TAfCircularBuffer::TAfCircularBuffer(size_t size) : FSize(size) {}

size_t TAfCircularBuffer::Used() const {
  if (FFull) return Size();
  return FWrite >= FRead ? FWrite - FRead : Size() - FRead + FWrite;
}

bool TAfCircularBuffer::Put(std::string_view data) {
  if (data.empty() || data.size() > Free()) return false;
  if (FData.empty()) FData.resize(FSize);
  size_t first = std::min(data.size(), Size() - FWrite);
  std::memcpy(FData.data() + FWrite, data.data(), first);
  std::memcpy(FData.data(), data.data() + first, data.size() - first);
  FWrite = (FWrite + data.size()) % Size();
  FFull = FWrite == FRead;
  return true;
}

std::string_view TAfCircularBuffer::ContiguousRun() const {
  if (Empty()) return {};
  size_t end = FWrite > FRead ? FWrite : Size();
  return {FData.data() + FRead, end - FRead};
}

void TAfCircularBuffer::Remove(size_t count) {
  count = std::min(count, Used());
  if (count == 0) return;
  FRead = (FRead + count) % Size();
  FFull = false;
}

void TAfCircularBuffer::Clear() {
  FRead = FWrite = 0;
  FFull = false;
}

}  // namespace duz
