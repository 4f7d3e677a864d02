#include "net/CurlLibrary.h"

#include <dlfcn.h>

#include <optional>

#include "base/Mutex.h"
#include "base/MutexLock.h"

namespace duz {
namespace {

constexpr const char* LibraryName = "libcurl.so.4";

template <typename TFunction>
bool Resolve(void* library, const char* name, TFunction& function) {
  function = reinterpret_cast<TFunction>(dlsym(library, name));
  return function != nullptr;
}

std::optional<TCurlLibrary> Open(std::string& error) {
  void* library = dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    error = dlerror();
    return std::nullopt;
  }
  TCurlLibrary curl{};
  decltype(&curl_global_init) globalInit = nullptr;
  if (!Resolve(library, "curl_global_init", globalInit) ||
      !Resolve(library, "curl_easy_init", curl.EasyInit) ||
      !Resolve(library, "curl_easy_cleanup", curl.EasyCleanup) ||
      !Resolve(library, "curl_easy_setopt", curl.EasySetopt) ||
      !Resolve(library, "curl_easy_perform", curl.EasyPerform) ||
      !Resolve(library, "curl_easy_getinfo", curl.EasyGetinfo) ||
      !Resolve(library, "curl_easy_strerror", curl.EasyStrerror) ||
      !Resolve(library, "curl_slist_append", curl.SlistAppend) ||
      !Resolve(library, "curl_slist_free_all", curl.SlistFreeAll)) {
    error = dlerror();
    dlclose(library);
    return std::nullopt;
  }
  // Stays loaded even when this fails: what it set up before failing may still be in use.
  if (const CURLcode result = globalInit(CURL_GLOBAL_DEFAULT); result != CURLE_OK) {
    error = std::string(LibraryName) + " cannot be initialised: " + curl.EasyStrerror(result);
    return std::nullopt;
  }
  return curl;
}

}  // namespace

const TCurlLibrary* TCurlLibrary::Load(std::string& error) {
  static TMutex lock;
  static std::optional<TCurlLibrary> loaded GUARDED_BY(lock);
  const TMutexLock hold(lock);
  if (!loaded) loaded = Open(error);
  return loaded ? &*loaded : nullptr;
}

}  // namespace duz
