#include "net/OpenSslError.h"

#include <openssl/err.h>

#include <cstring>

namespace duz {

std::string TakeQueuedReason() {
  std::string reason = "unknown error";
  while (const unsigned long error = ERR_get_error()) {
    if (ERR_GET_LIB(error) == ERR_LIB_SYS) {
      reason = std::strerror(ERR_GET_REASON(error));
      ERR_clear_error();
      break;
    }
    const char* text = ERR_reason_error_string(error);
    reason = text != nullptr ? text : "error " + std::to_string(ERR_GET_REASON(error));
  }
  return reason;
}

}  // namespace duz
