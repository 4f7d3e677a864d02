#include "base/Journal.h"

#include <cstdint>
#include <string>

#include "base/UnixDatagram.h"

namespace duz {

int SendJournalEntry(std::string_view socket, std::initializer_list<TJournalField> fields) {
  std::string entry;
  for (const TJournalField& field : fields) {
    entry += field.Name;
    if (field.Value.find('\n') == std::string_view::npos) {
      entry += '=';
    } else {
      // A value with a line break goes with its length before it: little-endian, 64 bits.
      entry += '\n';
      for (uint64_t size = field.Value.size(), byte = 0; byte < 8; ++byte, size >>= 8)
        entry += static_cast<char>(size & 0xFF);
    }
    entry += field.Value;
    entry += '\n';
  }
  return SendUnixDatagram(socket, entry);
}

}  // namespace duz
