#include "base/ProcessMemory.h"

#include <malloc.h>

namespace duz {

void SetUpProcessMemory() { mallopt(M_MMAP_THRESHOLD, 128 * 1024); }

void ReleaseFreeMemory() { malloc_trim(0); }

}  // namespace duz
