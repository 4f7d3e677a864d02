#pragma once
// Failures are exceptions that carry a message text. Every error class of the program derives from
// Exception, so an event path can catch them all with one handler.
#include <stdexcept>
#include <string>

namespace duz {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

// Text that does not convert to the requested type.
class EConvertError : public Exception {
  using Exception::Exception;
};

// A value outside the range an operation accepts.
class ERangeError : public Exception {
  using Exception::Exception;
};

}  // namespace duz
