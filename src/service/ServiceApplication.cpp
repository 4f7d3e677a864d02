#include "service/ServiceApplication.h"

#include <cstdio>

namespace duz {

int RunServiceApplication(const TSwitches&, const sigset_t&) {
  std::fprintf(stderr, "Service mode, installing and uninstalling are not available yet; use -debug.\n");
  return 1;
}

}  // namespace duz
