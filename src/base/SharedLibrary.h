#pragma once
// TSharedLibrary: a library opened by its soname when a feature first needs it, so that a process
// that never uses the feature maps none of it, and its functions looked up by name. Never closed:
// what it handed out (callbacks, contexts, threads of its own) may be in use to the end of the
// process. Any thread. The table of a library's functions is best a function's static made from
// it: callers wait while it is made, and one that raises is made again by the next call.
#include <string>

namespace duz {

class TSharedLibrary {
 public:
  // Raises Exception with dlerror()'s reason when it cannot be loaded.
  explicit TSharedLibrary(const char* soname);

  // Raises Exception with dlerror()'s reason when the library has no such function (too old).
  template <typename TFunction>
  TFunction Function(const char* name) const {
    return reinterpret_cast<TFunction>(Symbol(name));
  }

 private:
  void* Symbol(const char* name) const;

  void* FHandle;
};

}  // namespace duz

// The library's function of that name, typed from the library's own header, so that every call is
// checked as a direct one would be.
#define DUZ_LIBRARY_FUNCTION(library, name) (library).Function<decltype(&::name)>(#name)
