#pragma once
// OpenSSL's reasons, for the messages of everything here that uses it. Any thread: the error queue
// is the calling thread's own.
#include <string>

namespace duz {

// Empties the thread's OpenSSL error queue and says what went wrong, e.g. "wrong version number".
// A failed system call among the entries says more than the "system lib" wrapped around it.
std::string TakeQueuedReason();

}  // namespace duz
