#include "net/CurlLibrary.h"

#include "base/Exception.h"
#include "base/SharedLibrary.h"

namespace duz {
namespace {

constexpr const char* LibraryName = "libcurl.so.4";

}  // namespace

const TCurlLibrary& TCurlLibrary::Load() {
  static const TCurlLibrary loaded = [] {
    const TSharedLibrary library(LibraryName);
    const TCurlLibrary curl{
        .EasyInit = DUZ_LIBRARY_FUNCTION(library, curl_easy_init),
        .EasyCleanup = DUZ_LIBRARY_FUNCTION(library, curl_easy_cleanup),
        .EasySetopt = DUZ_LIBRARY_FUNCTION(library, curl_easy_setopt),
        .EasyPerform = DUZ_LIBRARY_FUNCTION(library, curl_easy_perform),
        .EasyGetinfo = DUZ_LIBRARY_FUNCTION(library, curl_easy_getinfo),
        .EasyStrerror = DUZ_LIBRARY_FUNCTION(library, curl_easy_strerror),
        .SlistAppend = DUZ_LIBRARY_FUNCTION(library, curl_slist_append),
        .SlistFreeAll = DUZ_LIBRARY_FUNCTION(library, curl_slist_free_all),
    };
    if (const CURLcode result = DUZ_LIBRARY_FUNCTION(library, curl_global_init)(CURL_GLOBAL_DEFAULT);
        result != CURLE_OK)
      throw Exception(std::string(LibraryName) + " cannot be initialised: " + curl.EasyStrerror(result));
    return curl;
  }();
  return loaded;
}

}  // namespace duz
