#include "net/OpenSslError.h"

#include <cstring>

#include "net/OpenSslLibrary.h"

namespace duz {

std::string TakeQueuedReason() {
  const TOpenSslLibrary& ssl = TOpenSslLibrary::Load();
  std::string reason = "unknown error";
  while (const unsigned long error = ssl.ErrGetError()) {
    if (ERR_GET_LIB(error) == ERR_LIB_SYS) {
      reason = std::strerror(ERR_GET_REASON(error));
      ssl.ErrClearError();
      break;
    }
    const char* text = ssl.ErrReasonErrorString(error);
    reason = text != nullptr ? text : "error " + std::to_string(ERR_GET_REASON(error));
  }
  return reason;
}

}  // namespace duz
