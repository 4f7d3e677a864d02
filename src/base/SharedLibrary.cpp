#include "base/SharedLibrary.h"

#include <dlfcn.h>

#include "base/Exception.h"

namespace duz {
namespace {

[[noreturn]] void RaiseLastError(const char* what) {
  const char* reason = dlerror();
  throw Exception(reason != nullptr ? reason : std::string(what) + ": not found");
}

}  // namespace

TSharedLibrary::TSharedLibrary(const char* soname) : FHandle(dlopen(soname, RTLD_NOW | RTLD_LOCAL)) {
  if (FHandle == nullptr) RaiseLastError(soname);
}

void* TSharedLibrary::Symbol(const char* name) const {
  dlerror();
  void* symbol = dlsym(FHandle, name);
  if (symbol == nullptr) RaiseLastError(name);
  return symbol;
}

}  // namespace duz
