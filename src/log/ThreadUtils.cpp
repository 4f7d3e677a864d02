#include "log/ThreadUtils.h"

#include <pthread.h>

namespace duz {

void SetThreadName(const std::string& name) {
  // The kernel keeps 15 bytes and refuses longer names outright.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

}  // namespace duz
