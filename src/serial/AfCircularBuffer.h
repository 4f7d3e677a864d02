#pragma once
// TAfCircularBuffer: the output ring buffer of a serial port, a fixed block with a read position, a
// write position and a full flag. Putting is all or nothing; the writer takes the largest contiguous
// run at the read position and removes what it wrote. The block is allocated by the first Put, as
// most ports are never written to. Not thread-safe: the port's write lock guards it.
#include <cstddef>
#include <string_view>
#include <vector>

namespace duz {

class TAfCircularBuffer {
 public:
  explicit TAfCircularBuffer(size_t size);

  size_t Size() const { return FSize; }
  size_t Used() const;
  size_t Free() const { return Size() - Used(); }
  bool Empty() const { return !FFull && FRead == FWrite; }
  bool Full() const { return FFull; }

  // False, with nothing stored, when data is empty or larger than the free room.
  bool Put(std::string_view data);
  // The bytes from the read position up to the write position or the end of the block.
  std::string_view ContiguousRun() const;
  // Advances the read position; count is at most Used().
  void Remove(size_t count);
  void Clear();

 private:
  const size_t FSize;
  std::vector<char> FData;  // empty until the first Put
  size_t FRead = 0;
  size_t FWrite = 0;
  bool FFull = false;
};

}  // namespace duz
