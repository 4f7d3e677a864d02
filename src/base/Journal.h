#pragma once
// The systemd journal's native protocol: one entry is one datagram of fields to journald's socket.
// Any thread.
#include <initializer_list>
#include <string_view>

namespace duz {

inline constexpr char JournalSocket[] = "/run/systemd/journal/socket";

struct TJournalField {
  std::string_view Name;  // upper-case letters, digits and '_', as the journal takes them
  std::string_view Value;
};

// Sends one entry to the socket. Returns 0 or a positive errno value: EMSGSIZE for an entry larger
// than one datagram may be.
int SendJournalEntry(std::string_view socket, std::initializer_list<TJournalField> fields);

}  // namespace duz
